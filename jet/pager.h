// Page I/O over one database file: a page cache, an exclusive lock for
// writers, and atomic commits through a rollback journal named after the
// file's real path ("<real path>-journal").
//
// The database file holds committed states only: a transaction's pages stay
// in the cache, or, when it outgrows the cache, in the journal's tail, until
// its commit. A page's original bytes go to the journal, and the journal is
// flushed to disk, before the commit overwrites the file; pages new to the
// file go first, then, after a flush, the pages that link them in; clearing
// the journal's header and flushing it ends the commit (the journal file is
// kept for the next transaction and removed on close). Opening a file whose
// journal is still present puts the original pages back first, so a process
// killed or a machine stopped at any moment leaves the last commit. A journal
// is applied only to the file it was written for; any other is set aside.
// The states and the rules that keep this true are written at the head of
// pager.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace jet {

struct JournalImage; // a journal as read back (pager.cpp)

class Pager {
public:
    // Opens an existing file. A writable pager holds an exclusive lock,
    // rolls back a journal a crash left for this file (and sets aside one
    // that is not this file's), and keeps its own journal open until it
    // closes; a read-only one reads the original pages of this file's
    // journal instead of the file's (needsRecovery() tells it found one).
    static std::unique_ptr<Pager> open(const std::string& path, bool writable);
    // Creates a new file holding the given pages (fails if the file exists);
    // a journal left under the new file's name is removed.
    static std::unique_ptr<Pager> create(const std::string& path, uint32_t pageSize,
                                         const std::vector<uint8_t>& image);

    ~Pager();
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    uint32_t pageSize() const { return pageSize_; }
    uint32_t pageCount() const { return pageCount_; }
    bool writable() const { return state_ != State::Reader; }
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

    bool dirty() const { return state_ == State::Changed || state_ == State::Spilled; }
    // Pages the open transaction has changed or added.
    size_t pendingPages() const;
    // The cache's cap in pages: a transaction larger than half of it moves
    // its pages into the journal's tail.
    size_t cacheCap() const { return cacheCap_; }
    void setCacheCap(size_t pages) { cacheCap_ = pages < 16 ? 16 : pages; }
    // Makes every change since the last commit durable.
    void commit();
    // Discards every change since the last commit.
    void rollback();
    // When the cache holds more than its cap, drops clean pages and, if the
    // transaction's own pages still fill half the cap, moves them into the
    // journal's tail (never into the file). Call between operations only.
    void releaseMemory();
    // Drops clean cached pages when the cache holds more than its cap.
    // Pointers to clean pages become invalid.
    void trimClean();

    // A reader found a journal of an unfinished commit that belongs to the
    // file: it reads the last commit through it, other programs do not.
    bool needsRecovery() const { return recoveryPending_; }

    // What the last commit wrote: pages new to the file, then the pages
    // already in it (those that link the new ones in), and the time from
    // the first write into a page of the last commit to the end of the
    // last one: the window in which a kill leaves a mix for readers that
    // know nothing of the journal.
    struct CommitWindow {
        uint32_t newPages = 0;
        uint32_t linkPages = 0;
        uint32_t linkWrites = 0; // system calls, unchanged pages between included
        double linkMs = 0;
    };
    const CommitWindow& lastCommitWindow() const { return window_; }

private:
    // What the pager may do next; see pager.cpp.
    enum class State {
        Reader,  // read-only: a shared lock, never a change
        Idle,    // a writer between transactions: the file holds the last commit
        Changed, // changes in the cache only; the file is untouched
        Spilled, // some changed pages live in the journal's tail; the file is untouched
        Writing, // commit is writing the file: only the journal can undo it
        Broken,  // undoing a failed commit failed: the journal stays for the next open
    };

    Pager() = default;
    struct CachedPage;
    CachedPage& load(uint32_t page);
    void markChanged();
    void beginJournal();
    void writeJournalHeader();
    void appendJournal(const std::vector<uint8_t>& record);
    void journalOriginal(uint32_t page, const uint8_t* data);
    void journalWrites(const std::vector<uint32_t>& pages);
    void syncJournal();
    void spillDirtyPages();
    size_t writePages(const std::vector<uint32_t>& pages);
    void writeToFile();
    void finishJournal();
    void forgetTransaction();
    void checkUsable() const;
    bool belongsHere(const JournalImage& j) const;
    void restore(int jfd, const JournalImage& j);
    void recover();
    void setAsideJournal();
    void loadReaderOverlay();
    void createJournal();

    std::string path_;            // as the caller named it, for messages
    std::string journalPath_;     // beside the file's real path
    int fd_ = -1;
    int journalFd_ = -1;
    State state_ = State::Reader;
    uint32_t pageSize_ = 0;
    uint32_t pageCount_ = 0;      // including pages not yet written
    uint32_t committedCount_ = 0; // pages in the file at the last commit
    uint64_t maxFileSize_ = 0;
    bool journalSynced_ = true;
    bool journalBegun_ = false;   // the journal holds records of this transaction
    bool journalActive_ = false;  // ... and its header: it is hot
    uint64_t journalEnd_ = 0;     // where the next record goes
    uint32_t journalNonce_ = 0;   // number of the journal's transaction
    bool recoveryPending_ = false;
    CommitWindow window_;

    struct CachedPage {
        std::vector<uint8_t> data;
        bool dirty = false;
    };
    std::unordered_map<uint32_t, std::unique_ptr<CachedPage>> cache_;
    std::unordered_set<uint32_t> dirty_;
    std::unordered_set<uint32_t> journaled_;
    // Pages of the open transaction whose bytes are in the journal's tail:
    // where their record is and the hash of the bytes.
    struct Spill {
        uint64_t offset;
        uint64_t hash;
    };
    std::unordered_map<uint32_t, Spill> spilled_;
    std::unordered_map<uint32_t, std::vector<uint8_t>> overlay_; // read-only view of a hot journal
    size_t cacheCap_ = 4096;      // pages
};

} // namespace jet
