// Page I/O over one database file: a page cache, an exclusive lock for
// writers, and atomic commits through a rollback journal ("<db>-journal").
//
// A page's original bytes go to the journal, and the journal is flushed to
// disk, before the database file is overwritten; commit clears the journal's
// header (the file is kept for the next transaction and removed on close).
// Opening a file whose journal is still present puts the original pages back
// first, so a process killed at any moment leaves the last commit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace jet {

class Pager {
public:
    // Opens an existing file. A writable pager holds an exclusive lock and
    // rolls back a journal left by a crash; a read-only one reads the
    // journal's original pages instead of the file's.
    static std::unique_ptr<Pager> open(const std::string& path, bool writable);
    // Creates a new file holding the given pages (fails if the file exists).
    static std::unique_ptr<Pager> create(const std::string& path, uint32_t pageSize,
                                         const std::vector<uint8_t>& image);

    ~Pager();
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    uint32_t pageSize() const { return pageSize_; }
    uint32_t pageCount() const { return pageCount_; }
    bool writable() const { return writable_; }
    const std::string& path() const { return path_; }

    // Largest file size allowed; allocating beyond it throws.
    void setMaxFileSize(uint64_t bytes) { maxFileSize_ = bytes; }
    uint64_t maxFileSize() const { return maxFileSize_; }

    // Page contents; the pointer stays valid until releaseMemory() or the
    // end of the transaction.
    const uint8_t* read(uint32_t page);
    // Page contents for changing; the page is written at commit.
    uint8_t* write(uint32_t page);
    // Appends a zeroed page and returns its number.
    uint32_t allocate();
    // Throws unless `pages` more pages fit under the size limit.
    void ensureRoom(uint32_t pages) const;

    bool dirty() const { return !dirty_.empty() || spilled_; }
    // Makes every change since the last commit durable.
    void commit();
    // Discards every change since the last commit.
    void rollback();
    // Writes dirty pages out (journal first) and drops clean pages when the
    // cache holds more than its cap. Call between operations only.
    void releaseMemory();
    // Drops clean cached pages when the cache holds more than its cap.
    // Pointers to clean pages become invalid.
    void trimClean();

private:
    Pager() = default;
    struct CachedPage;
    CachedPage& load(uint32_t page);
    void ensureJournal();
    void journalOriginal(uint32_t page, const uint8_t* data);
    void syncJournal();
    void writeDirtyPages();
    void finishJournal();
    void lock(bool exclusive);
    void checkUsable() const;
    static void restore(const std::string& path, int fd, int jfd, uint32_t pageSize);
    void probeJournalFolder();
    static void recover(const std::string& path, int fd, uint32_t pageSize);

    std::string path_;
    std::string journalPath_;
    int fd_ = -1;
    int journalFd_ = -1;
    bool writable_ = false;
    uint32_t pageSize_ = 0;
    uint32_t pageCount_ = 0;      // including pages not yet written
    uint32_t committedCount_ = 0; // pages in the file at the last commit
    uint64_t maxFileSize_ = 0;
    bool spilled_ = false;        // dirty pages already written this transaction
    bool journalSynced_ = true;
    bool journalActive_ = false;  // the journal holds this transaction's header
    uint32_t journalNonce_ = 0;   // number of the journal's transaction
    bool broken_ = false;         // a failed write could not be undone in place

    struct CachedPage {
        std::vector<uint8_t> data;
        bool dirty = false;
    };
    std::unordered_map<uint32_t, std::unique_ptr<CachedPage>> cache_;
    std::unordered_set<uint32_t> dirty_;
    std::unordered_set<uint32_t> journaled_;
    std::unordered_map<uint32_t, std::vector<uint8_t>> overlay_; // read-only view of a hot journal
    size_t cacheCap_ = 4096;      // pages
};

} // namespace jet
