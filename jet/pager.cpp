// Page I/O: the cache, the locks, the rollback journal and the recovery of a
// crashed writer's file. pager.h says what callers see; this head says how
// a file stays at its last commit whatever stops the writer.
//
// ---- States (Pager::State) -------------------------------------------------
//
//   Reader   open(path, false): a shared lock. Pages come from the file, or,
//            while a hot journal that belongs to the file is present, from the
//            journal's originals (needsRecovery()). Nothing is ever written.
//   Idle     A writer with nothing pending: an exclusive lock, the file holds
//            the last commit, the journal file is open with a cleared header.
//   Changed  Pages are dirty in the cache; the journal may hold originals
//            (journalBegun_) but no header: the file is untouched.
//   Spilled  As Changed, but pages of the transaction that outgrew the cache
//            are in the journal's tail (spilled_) and are read back from there.
//   Writing  commit() is writing the file; only the journal, hot since its
//            header was flushed, can undo it.
//   Broken   Undoing a failed commit failed: every call throws and the hot
//            journal stays for the next open.
//
//   open(writable)    -> Idle, after recover() and createJournal(); or Reader
//   write, allocate   Idle -> Changed
//   releaseMemory     Changed -> Spilled, when spillDirtyPages() moves pages out
//   commit            Changed, Spilled -> Writing (writeToFile) -> Idle;
//                     a failure before Writing is a rollback without undo
//   rollback          Changed, Spilled -> Idle (forgetTransaction);
//                     Writing -> Idle (restore), or Broken
//
// ---- Invariants ------------------------------------------------------------
//
//  1. A writer holds an exclusive lock on the file for its whole life, a
//     reader a shared one: one writer at a time, never beside a reader.
//  2. The file holds committed states only, as any reader reads it: no byte
//     of it changes outside writeToFile(), and only after the journal holds,
//     flushed to disk, its header, the original of every page below
//     committedCount_ that the commit overwrites, and after the journal's
//     name is flushed into its folder.
//  3. writeToFile() writes the pages at or past committedCount_ first (no
//     committed page points at them, so a reader that follows links never
//     meets them), flushes the file, then the pages below committedCount_,
//     which link them in, read into memory beforehand so that they go out
//     back to back, those close together in one call with the unchanged
//     pages between them; only a kill in those writes (lastCommitWindow())
//     leaves a mix for readers that ignore the journal, and the journal
//     undoes it.
//  4. Pages at or past committedCount_ have no original: undoing them is
//     cutting the file back to committedCount_ pages.
//  5. Every page written into the file has its hash in the journal, flushed
//     before the write, so that recovery tells our pages from another
//     program's.
//  6. The commit point is the flush of the journal's cleared header, after
//     the file's own flush. A journal without a valid header undoes nothing;
//     its header is written by commit only, so a writer killed before its
//     commit leaves a journal that is removed, not applied.
//  7. journaled_ holds every page whose original is in this transaction's
//     journal; a dirty or spilled page below committedCount_ is always in it.
//     A page in spilled_ and not dirty in the cache has its latest bytes in
//     the journal's tail; a page at or past committedCount_ is always dirty
//     in the cache or in spilled_.
//  8. A journal is applied only to the file it was written for: the same
//     device and inode, at least its original length, and page 0 and every
//     page it names as the writer left them (original, or written by it).
//     Any other journal is renamed aside: never applied, never deleted.
//  9. The journal is never reached through a symbolic link and is named
//     after the file's real path; a writer writes only a journal it created
//     itself (O_EXCL) and keeps open until it closes the file.
// 10. Creating a file removes any journal under its name; the new file's
//     contents and name are flushed before it is used.
//
// The journal file's layout is in journal_format.h.

#include "jet/pager.h"

#include "jet/bytes.h"
#include "jet/error.h"
#include "jet/file_io.h"
#include "jet/journal_format.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace jet {

namespace {

// Linking pages at most this far apart are written in one call.
constexpr uint32_t kLinkGap = 32;

} // namespace

Pager::~Pager()
{
    if (journalFd_ >= 0) {
        closeFile(journalFd_);
        // A cleared journal goes; one holding a transaction stays for the
        // next writer to roll back.
        if (!journalActive_ && state_ != State::Broken && removeFile(journalPath_)) {
            try {
                syncFolder(journalPath_);
            } catch (const Error&) {
            }
        }
    }
    if (fd_ >= 0)
        closeFile(fd_);
}

void Pager::checkUsable() const
{
    if (state_ == State::Broken)
        throw Error(ErrorKind::Io, "The database '" + path_ +
                    "' could not be restored after a failed write; open it again to restore its last commit");
}

// Whether the file is the one the journal was written for, as its writer
// left it: nothing but that writer changed the pages the journal names.
bool Pager::belongsHere(const JournalImage& j) const
{
    FileStatus st;
    if (!fileStatus(fd_, st) || j.pageSize != pageSize_ || j.device != st.device || j.inode != st.inode ||
        st.size < uint64_t(j.originalCount) * pageSize_)
        return false;
    auto writtenHere = [&](uint32_t page, uint64_t hash) {
        auto it = j.written.find(page);
        return it != j.written.end() && std::find(it->second.begin(), it->second.end(), hash) != it->second.end();
    };
    std::vector<uint8_t> buf(pageSize_);
    auto fileHash = [&](uint32_t page, uint64_t& hash) {
        if (!readAll(fd_, buf.data(), pageSize_, uint64_t(page) * pageSize_))
            return false;
        hash = pageHash(buf.data(), pageSize_);
        return true;
    };
    uint64_t h = 0;
    if (!fileHash(0, h) || (h != j.page0Hash && !writtenHere(0, h)))
        return false;
    for (const auto& o : j.originals)
        if (o.page < j.originalCount && (!fileHash(o.page, h) || (h != o.hash && !writtenHere(o.page, h))))
            return false;
    // Pages past the original end: ours, or never written (a crash can
    // leave zeros where the length grew before the data came).
    const uint32_t whole = uint32_t(st.size / pageSize_);
    for (uint32_t pg = j.originalCount; pg < whole; ++pg) {
        if (!fileHash(pg, h))
            return false;
        if (!writtenHere(pg, h) && !std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0; }))
            return false;
    }
    return true;
}

// Puts a journal's originals back and cuts the file to its original length.
void Pager::restore(int jfd, const JournalImage& j)
{
    std::vector<uint8_t> page(pageSize_);
    for (const auto& o : j.originals) {
        if (!readAll(jfd, page.data(), pageSize_, o.offset))
            throw sysError("Cannot read", journalPath_, errno ? errno : EIO);
        writeAll(fd_, page.data(), pageSize_, uint64_t(o.page) * pageSize_, path_);
    }
    if (!truncateFile(fd_, uint64_t(j.originalCount) * pageSize_))
        throw sysError("Cannot restore", path_, errno);
    syncFd(fd_, path_);
}

// Renames a journal that must not be applied, so that nothing is lost.
void Pager::setAsideJournal()
{
    std::string aside;
    for (int n = 1; n < 1000; ++n) {
        aside = journalPath_ + "-unmatched" + (n > 1 ? "-" + std::to_string(n) : "");
        if (!pathExists(aside))
            break;
    }
    if (!replaceFile(journalPath_, aside))
        throw sysError("Cannot set aside", journalPath_, errno);
    syncFolder(journalPath_);
}

// A writer's open: undoes the transaction a crashed writer left, if its
// journal belongs to this file; any other journal is set aside.
void Pager::recover()
{
    int jfd = openJournalForReading(journalPath_);
    if (jfd < 0) {
        if (errno == ENOENT)
            return;
        if (errno == ELOOP) {
            setAsideJournal();
            return;
        }
        throw sysError("Cannot open", journalPath_, errno);
    }
    JournalImage j;
    JournalState state = JournalState::Foreign;
    try {
        state = readJournal(jfd, j);
        if (state == JournalState::Hot && !belongsHere(j))
            state = JournalState::Foreign;
        if (state == JournalState::Hot)
            restore(jfd, j);
    } catch (...) {
        closeFile(jfd);
        throw;
    }
    closeFile(jfd);
    if (state == JournalState::Foreign) {
        setAsideJournal();
        return;
    }
    if (!removeFile(journalPath_) && errno != ENOENT)
        throw sysError("Cannot remove", journalPath_, errno);
    syncFolder(journalPath_);
}

// A reader's open: while a writer's journal that belongs to the file is
// present, the file's pages it names are read from it instead.
void Pager::loadReaderOverlay()
{
    int jfd = openJournalForReading(journalPath_);
    if (jfd < 0)
        return;
    JournalImage j;
    if (readJournal(jfd, j) == JournalState::Hot && belongsHere(j)) {
        for (const auto& o : j.originals) {
            std::vector<uint8_t> page(pageSize_);
            if (readAll(jfd, page.data(), pageSize_, o.offset))
                overlay_.emplace(o.page, std::move(page));
        }
        pageCount_ = j.originalCount;
        recoveryPending_ = true;
    }
    closeFile(jfd);
}

std::unique_ptr<Pager> Pager::open(const std::string& path, bool writable)
{
    std::unique_ptr<Pager> p(new Pager());
    p->path_ = path;
    p->state_ = writable ? State::Idle : State::Reader;
    p->fd_ = openDatabaseFile(path, writable);
    // Every name of the file shares one journal.
    p->journalPath_ = realPath(path) + "-journal";

    uint8_t head[24];
    if (!readAll(p->fd_, head, sizeof head, 0))
        throw Error(ErrorKind::Unsupported, "'" + path + "' is not an Access database");
    static const uint8_t magic[] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a', 'r', 'd',
                                    ' ', 'J', 'e', 't', ' ', 'D', 'B', 0x00};
    if (std::memcmp(head, magic, sizeof magic) != 0)
        throw Error(ErrorKind::Unsupported, "'" + path + "' is not an Access database");
    uint32_t version = get32(head + 20);
    if (version > 1)
        throw Error(ErrorKind::Unsupported,
                    "'" + path + "' is in a later Access format than Access 2000, which is not supported");
    p->pageSize_ = version == 1 ? 4096 : 2048;
    p->maxFileSize_ = version == 1 ? (1ull << 31) : (1ull << 30);

    if (writable) {
        p->recover();
        p->createJournal();
    } else {
        p->loadReaderOverlay();
    }
    FileStatus st;
    if (!p->pageCount_)
        p->pageCount_ = fileStatus(p->fd_, st) ? uint32_t(st.size / p->pageSize_) : 0;
    if (p->pageCount_ < 2)
        throw Error(ErrorKind::Corrupt, "'" + path + "' is damaged: it is too short to be an Access database");
    p->committedCount_ = p->pageCount_;
    return p;
}

std::unique_ptr<Pager> Pager::create(const std::string& path, uint32_t pageSize,
                                     const std::vector<uint8_t>& image)
{
    int fd = createNewFile(path);
    if (fd < 0)
        throw sysError("Cannot create", path, errno);
    try {
        // A journal under this name was left by an earlier file of the same
        // name; applied to the new one it would bring the old one back.
        const std::string real = realPath(path);
        const std::string journal = real + "-journal";
        if (!removeFile(journal) && errno != ENOENT)
            throw sysError("Cannot remove", journal, errno);
        writeAll(fd, image.data(), image.size(), 0, path);
        syncFd(fd, path);
        syncFolder(real);
    } catch (...) {
        closeFile(fd);
        removeFile(path);
        throw;
    }
    closeFile(fd);
    auto p = open(path, true);
    (void)pageSize;
    return p;
}

// Creates the journal a writer keeps until it closes the file. Every change
// needs it beside the file: a folder that does not take it is refused now,
// not at the first change of a run.
void Pager::createJournal()
{
    journalFd_ = createJournalFile(journalPath_);
    if (journalFd_ < 0) {
        Error e = sysError("Cannot write in the folder of", path_, errno);
        throw Error(e.kind(), std::string(e.what()) + " (changes need a journal file beside the database)");
    }
    syncFolder(journalPath_);
}

Pager::CachedPage& Pager::load(uint32_t page)
{
    auto it = cache_.find(page);
    if (it != cache_.end())
        return *it->second;
    if (page >= pageCount_)
        throw Error(ErrorKind::Corrupt, "'" + path_ + "' is damaged: a reference to page " + std::to_string(page) +
                    " lies beyond the end of the file");
    auto cp = std::make_unique<CachedPage>();
    cp->data.resize(pageSize_);
    auto ov = overlay_.find(page);
    if (auto sp = spilled_.find(page); sp != spilled_.end()) {
        if (!readAll(journalFd_, cp->data.data(), pageSize_, sp->second.offset + 8))
            throw sysError("Cannot read", journalPath_, errno ? errno : EIO);
    } else if (ov != overlay_.end()) {
        cp->data = ov->second;
    } else if (!readAll(fd_, cp->data.data(), pageSize_, uint64_t(page) * pageSize_)) {
        throw sysError("Cannot read", path_, errno ? errno : EIO);
    }
    auto& ref = *cp;
    cache_.emplace(page, std::move(cp));
    return ref;
}

const uint8_t* Pager::read(uint32_t page)
{
    checkUsable();
    return load(page).data.data();
}

void Pager::markChanged()
{
    if (state_ == State::Idle)
        state_ = State::Changed;
}

size_t Pager::pendingPages() const
{
    size_t n = dirty_.size();
    for (const auto& [page, spill] : spilled_)
        n += dirty_.count(page) ? 0 : 1;
    return n;
}

// Starts this transaction's records. The header waits for the commit: until
// then the journal is not hot, and a writer that dies leaves it to be removed.
void Pager::beginJournal()
{
    if (journalBegun_)
        return;
    // A new number for every transaction, never the last one's.
    uint32_t next = journalNonce_ * 1103515245u + 12345u;
    journalNonce_ = next == journalNonce_ ? next + 1 : next;
    journalEnd_ = kJournalHeader;
    journalBegun_ = true;
}

// Makes the journal hot (once flushed): what identifies the file, where it
// is, its length and its first page, none of which this transaction has
// changed yet.
void Pager::writeJournalHeader()
{
    FileStatus st;
    if (!fileStatus(fd_, st))
        throw sysError("Cannot read", path_, errno);
    std::vector<uint8_t> page0(pageSize_);
    if (!readAll(fd_, page0.data(), pageSize_, 0))
        throw sysError("Cannot read", path_, errno ? errno : EIO);
    uint8_t head[kJournalHeader] = {};
    std::memcpy(head, kJournalMagic, 8);
    put32(head + 8, pageSize_);
    put32(head + 12, committedCount_);
    put32(head + 16, journalNonce_);
    put64(head + 20, st.device);
    put64(head + 28, st.inode);
    put64(head + 36, st.size);
    put64(head + 44, pageHash(page0.data(), pageSize_));
    put32(head + 60, checksum(head, 60, journalNonce_));
    writeAll(journalFd_, head, kJournalHeader, 0, journalPath_);
    journalActive_ = true;
    journalSynced_ = false;
}

void Pager::appendJournal(const std::vector<uint8_t>& record)
{
    writeAll(journalFd_, record.data(), record.size(), journalEnd_, journalPath_);
    journalEnd_ += record.size();
    journalSynced_ = false;
}

void Pager::journalOriginal(uint32_t page, const uint8_t* data)
{
    beginJournal();
    std::vector<uint8_t> rec(8 + pageSize_ + 4);
    put32(rec.data(), kRecordOriginal);
    put32(rec.data() + 4, page);
    std::memcpy(rec.data() + 8, data, pageSize_);
    put32(rec.data() + 8 + pageSize_, checksum(rec.data(), 8 + pageSize_, journalNonce_));
    appendJournal(rec);
    journaled_.insert(page);
}

// Records what is about to be written to the file (`pages`, from the cache
// or the journal's tail).
void Pager::journalWrites(const std::vector<uint32_t>& pages)
{
    std::vector<uint8_t> rec(8 + 12 * pages.size() + 4);
    put32(rec.data(), kRecordWritten);
    put32(rec.data() + 4, uint32_t(pages.size()));
    for (size_t i = 0; i < pages.size(); ++i) {
        put32(rec.data() + 8 + 12 * i, pages[i]);
        auto c = cache_.find(pages[i]);
        uint64_t hash = c != cache_.end() && (c->second->dirty || !spilled_.count(pages[i]))
                            ? pageHash(c->second->data.data(), pageSize_)
                            : spilled_.at(pages[i]).hash;
        put64(rec.data() + 12 + 12 * i, hash);
    }
    put32(rec.data() + rec.size() - 4, checksum(rec.data(), rec.size() - 4, journalNonce_));
    appendJournal(rec);
}

uint8_t* Pager::write(uint32_t page)
{
    if (state_ == State::Reader)
        throw Error("The database '" + path_ + "' is open for reading only");
    checkUsable();
    CachedPage& cp = load(page);
    if (!cp.dirty) {
        if (page < committedCount_ && !journaled_.count(page))
            journalOriginal(page, cp.data.data());
        cp.dirty = true;
        dirty_.insert(page);
        markChanged();
    }
    return cp.data.data();
}

void Pager::ensureRoom(uint32_t pages) const
{
    if ((uint64_t(pageCount_) + pages) * pageSize_ > maxFileSize_)
        throw Error(ErrorKind::Full, "The database '" + path_ + "' has reached its size limit of " +
                    std::to_string(maxFileSize_ >> 20) + " MB");
}

uint32_t Pager::allocate()
{
    if (state_ == State::Reader)
        throw Error("The database '" + path_ + "' is open for reading only");
    checkUsable();
    ensureRoom(1);
    uint32_t page = pageCount_++;
    auto cp = std::make_unique<CachedPage>();
    cp->data.assign(pageSize_, 0);
    cp->dirty = true;
    cache_[page] = std::move(cp);
    dirty_.insert(page);
    markChanged();
    return page;
}

void Pager::syncJournal()
{
    if (journalFd_ >= 0 && !journalSynced_) {
        syncFd(journalFd_, journalPath_);
        journalSynced_ = true;
    }
}

// Moves the dirty pages into the journal's tail (a page spilled before
// keeps its record, rewritten in place) and drops them from the cache. The
// file is not touched.
void Pager::spillDirtyPages()
{
    beginJournal();
    std::vector<uint32_t> pages(dirty_.begin(), dirty_.end());
    std::sort(pages.begin(), pages.end());
    const size_t recSize = 8 + size_t(pageSize_) + 4;
    std::vector<uint8_t> run;   // records appended back to back
    uint64_t runAt = journalEnd_;
    auto flushRun = [&] {
        if (!run.empty())
            writeAll(journalFd_, run.data(), run.size(), runAt, journalPath_);
        run.clear();
        runAt = journalEnd_;
    };
    std::vector<uint8_t> rec(recSize);
    for (uint32_t page : pages) {
        const uint8_t* data = cache_.at(page)->data.data();
        put32(rec.data(), kRecordSpilled);
        put32(rec.data() + 4, page);
        std::memcpy(rec.data() + 8, data, pageSize_);
        put32(rec.data() + 8 + pageSize_, checksum(rec.data(), 8 + pageSize_, journalNonce_));
        const uint64_t hash = pageHash(data, pageSize_);
        auto sp = spilled_.find(page);
        if (sp != spilled_.end()) {
            writeAll(journalFd_, rec.data(), recSize, sp->second.offset, journalPath_);
            sp->second.hash = hash;
        } else {
            spilled_.emplace(page, Spill{journalEnd_, hash});
            run.insert(run.end(), rec.begin(), rec.end());
            journalEnd_ += recSize;
            if (run.size() >= (1u << 20))
                flushRun();
        }
        cache_.erase(page);
    }
    flushRun();
    journalSynced_ = false;
    dirty_.clear();
    state_ = State::Spilled;
}

// Writes `pages` (sorted) into the file, consecutive pages in one call (the
// calls are counted); a
// page not in the cache is read back from the journal's tail first, a run
// at a time.
size_t Pager::writePages(const std::vector<uint32_t>& pages)
{
    size_t calls = 0;
    std::vector<IoBuffer> run;
    std::vector<std::vector<uint8_t>> fromSpill;
    size_t i = 0;
    while (i < pages.size()) {
        size_t j = i;
        run.clear();
        fromSpill.clear();
        while (j < pages.size() && pages[j] == pages[i] + (j - i) && run.size() < 1024) {
            auto c = cache_.find(pages[j]);
            if (c != cache_.end()) {
                run.push_back(IoBuffer{c->second->data.data(), c->second->data.size()});
            } else {
                fromSpill.emplace_back(pageSize_);
                if (!readAll(journalFd_, fromSpill.back().data(), pageSize_, spilled_.at(pages[j]).offset + 8))
                    throw sysError("Cannot read", journalPath_, errno ? errno : EIO);
                run.push_back(IoBuffer{fromSpill.back().data(), pageSize_});
            }
            ++j;
        }
        writeAllVec(fd_, run, uint64_t(pages[i]) * pageSize_, path_);
        ++calls;
        i = j;
    }
    return calls;
}

// The commit's writes into the file, in the order of invariant 3.
void Pager::writeToFile()
{
    std::vector<uint32_t> pages(dirty_.begin(), dirty_.end());
    for (const auto& [page, spill] : spilled_)
        if (!dirty_.count(page))
            pages.push_back(page);
    std::sort(pages.begin(), pages.end());
    const auto firstNew = std::lower_bound(pages.begin(), pages.end(), committedCount_);
    std::vector<uint32_t> linking(pages.begin(), firstNew), fresh(firstNew, pages.end());

    beginJournal();
    journalWrites(pages);
    writeJournalHeader();
    syncJournal();

    state_ = State::Writing;
    window_ = CommitWindow{uint32_t(fresh.size()), uint32_t(linking.size()), 0, 0};
    writePages(fresh);
    if (linking.empty()) {
        syncFd(fd_, path_);
        return;
    }
    if (!fresh.empty())
        syncFd(fd_, path_);
    // Linking pages a few pages apart go out in one call, the unchanged
    // pages between them rewritten as they are: fewer calls, a shorter
    // window. Every page of it comes into the cache first (the spilled ones
    // from the journal), so that nothing but the writes lies in the window.
    std::vector<uint32_t> span;
    for (size_t k = 0; k < linking.size(); ++k) {
        if (k > 0 && linking[k] - linking[k - 1] <= kLinkGap)
            for (uint32_t between = linking[k - 1] + 1; between < linking[k]; ++between)
                span.push_back(between);
        span.push_back(linking[k]);
    }
    for (uint32_t page : span)
        load(page);
    const auto start = std::chrono::steady_clock::now();
    window_.linkWrites = uint32_t(writePages(span));
    window_.linkMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    syncFd(fd_, path_);
}

void Pager::commit()
{
    checkUsable();
    if (!dirty())
        return;
    try {
        writeToFile();
        finishJournal();
    } catch (...) {
        // The error that ended the commit is the one reported; a rollback
        // that fails too leaves the journal for the next open.
        try {
            rollback();
        } catch (...) {
        }
        throw;
    }
    for (auto& [page, cp] : cache_)
        cp->dirty = false;
    dirty_.clear();
    spilled_.clear();
    committedCount_ = pageCount_;
    state_ = State::Idle;
    trimClean();
}

void Pager::finishJournal()
{
    if (journalActive_) {
        // Clearing the journal's header is the moment of commit (or the end
        // of a rollback); once the file holds pages of the transaction, the
        // cleared header must be on disk, or a power cut brings it back.
        // The journal keeps its length, so that the next transaction's
        // records overwrite blocks it already has.
        static const uint8_t cleared[kJournalHeader] = {};
        writeAll(journalFd_, cleared, kJournalHeader, 0, journalPath_);
        if (state_ == State::Writing)
            syncFd(journalFd_, journalPath_);
        journalActive_ = false;
    }
    journaled_.clear();
    journalBegun_ = false;
    journalSynced_ = true;
    journalEnd_ = kJournalHeader;
}

// Drops the transaction from memory: its dirty pages, its spilled pages and
// whatever the cache read back from them, its pages past the committed end.
void Pager::forgetTransaction()
{
    for (uint32_t page : dirty_)
        cache_.erase(page);
    for (const auto& [page, spill] : spilled_)
        cache_.erase(page);
    dirty_.clear();
    spilled_.clear();
    journaled_.clear();
    pageCount_ = committedCount_;
    for (auto it = cache_.begin(); it != cache_.end();)
        it = it->first >= committedCount_ ? cache_.erase(it) : std::next(it);
}

void Pager::rollback()
{
    checkUsable();
    if (state_ == State::Writing) {
        // Pages already went to the file: put the originals back.
        cache_.clear();
        try {
            syncJournal();
            JournalImage j;
            if (readJournal(journalFd_, j) != JournalState::Hot)
                throw Error(ErrorKind::Io, "Cannot read back the journal '" + journalPath_ + "'");
            restore(journalFd_, j);
            finishJournal();
        } catch (...) {
            state_ = State::Broken;
            throw;
        }
    } else {
        // The file is untouched; a header written before the failure goes.
        finishJournal();
    }
    forgetTransaction();
    if (state_ != State::Reader)
        state_ = State::Idle;
}

void Pager::trimClean()
{
    if (cache_.size() <= cacheCap_)
        return;
    for (auto it = cache_.begin(); it != cache_.end();)
        it = it->second->dirty ? std::next(it) : cache_.erase(it);
}

void Pager::releaseMemory()
{
    if (cache_.size() <= cacheCap_)
        return;
    for (auto it = cache_.begin(); it != cache_.end();)
        it = it->second->dirty ? std::next(it) : cache_.erase(it);
    if (dirty_.size() * 2 >= cacheCap_)
        spillDirtyPages();
}

} // namespace jet
