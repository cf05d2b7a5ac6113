#include "jet/pager.h"

#include "jet/bytes.h"
#include "jet/error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace jet {

namespace {

constexpr char kJournalMagic[8] = {'F', 'W', 'J', 'R', 'N', 'L', '0', '1'};
constexpr size_t kJournalHeader = 24;

std::string sysError(const std::string& what, const std::string& path, int err)
{
    if (err == ENOSPC)
        return what + " '" + path + "': the disk is full";
    if (err == EFBIG)
        return what + " '" + path + "': the file has reached the largest size this system allows it";
    if (err == EDQUOT)
        return what + " '" + path + "': the disk quota is exhausted";
    return what + " '" + path + "': " + std::strerror(err);
}

uint32_t checksum(const uint8_t* data, size_t n, uint32_t seed)
{
    uint32_t h = 2166136261u ^ seed;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

void writeAll(int fd, const uint8_t* data, size_t n, uint64_t offset, const std::string& path)
{
    while (n > 0) {
        ssize_t w = ::pwrite(fd, data, n, off_t(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throw Error(sysError("Cannot write", path, errno));
        }
        data += w;
        n -= size_t(w);
        offset += uint64_t(w);
    }
}

// Writes the buffers one after another from `offset`, resuming after short
// writes, so that pages go out from where they are cached.
void writeAllVec(int fd, std::vector<iovec>& iov, uint64_t offset, const std::string& path)
{
    size_t first = 0;
    while (first < iov.size()) {
        ssize_t w = ::pwritev(fd, iov.data() + first, int(std::min<size_t>(iov.size() - first, IOV_MAX)),
                              off_t(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throw Error(sysError("Cannot write", path, errno));
        }
        offset += uint64_t(w);
        size_t left = size_t(w);
        while (first < iov.size() && left >= iov[first].iov_len) {
            left -= iov[first].iov_len;
            ++first;
        }
        if (left > 0) {
            iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
}

bool readAll(int fd, uint8_t* data, size_t n, uint64_t offset)
{
    while (n > 0) {
        ssize_t r = ::pread(fd, data, n, off_t(offset));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        data += r;
        n -= size_t(r);
        offset += uint64_t(r);
    }
    return true;
}

void syncFd(int fd, const std::string& path)
{
    if (::fdatasync(fd) != 0)
        throw Error(sysError("Cannot flush", path, errno));
}

uint64_t fileSize(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return 0;
    return uint64_t(st.st_size);
}

// Reads a journal: original page count and the original pages. Returns false
// when the journal holds nothing usable (it was cut before its first sync,
// so the database file was never touched).
bool readJournal(int jfd, uint32_t pageSize, uint32_t& originalCount,
                 std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& pages)
{
    uint8_t head[kJournalHeader];
    if (!readAll(jfd, head, kJournalHeader, 0) || std::memcmp(head, kJournalMagic, 8) != 0)
        return false;
    // Bytes 20-23 hold the transaction's number: records of earlier
    // transactions left further on in the file do not match it.
    const uint32_t nonce = get32(head + 20);
    if (get32(head + 8) != pageSize || get32(head + 16) != checksum(head, 16, nonce))
        return false;
    originalCount = get32(head + 12);
    uint64_t off = kJournalHeader;
    std::vector<uint8_t> rec(8 + pageSize);
    while (readAll(jfd, rec.data(), rec.size(), off)) {
        uint32_t pg = get32(rec.data());
        if (get32(rec.data() + 4 + pageSize) != checksum(rec.data(), 4 + pageSize, pg ^ nonce))
            break;
        pages.emplace_back(pg, std::vector<uint8_t>(rec.begin() + 4, rec.begin() + 4 + pageSize));
        off += rec.size();
    }
    return true;
}

} // namespace

Pager::~Pager()
{
    if (journalFd_ >= 0) {
        ::close(journalFd_);
        // A cleared journal goes; one holding a transaction stays for the
        // next writer to roll back.
        if (!journalActive_ && !broken_)
            ::unlink(journalPath_.c_str());
    }
    if (fd_ >= 0)
        ::close(fd_);
}

void Pager::checkUsable() const
{
    if (broken_)
        throw Error("The database '" + path_ +
                    "' could not be restored after a failed write; open it again to restore its last commit");
}

void Pager::lock(bool exclusive)
{
    if (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            throw Error("The database '" + path_ + "' is in use by another program");
        throw Error(sysError("Cannot lock", path_, errno));
    }
}

// Puts the original pages of a journal back and cuts the file to its
// original length. An empty or unfinished journal changes nothing.
void Pager::restore(const std::string& path, int fd, int jfd, uint32_t pageSize)
{
    uint32_t originalCount = 0;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;
    if (!readJournal(jfd, pageSize, originalCount, pages))
        return;
    for (auto& [pg, data] : pages)
        writeAll(fd, data.data(), pageSize, uint64_t(pg) * pageSize, path);
    if (::ftruncate(fd, off_t(uint64_t(originalCount) * pageSize)) != 0)
        throw Error(sysError("Cannot restore", path, errno));
    syncFd(fd, path);
}

void Pager::recover(const std::string& path, int fd, uint32_t pageSize)
{
    std::string jpath = path + "-journal";
    int jfd = ::open(jpath.c_str(), O_RDONLY | O_CLOEXEC);
    if (jfd < 0)
        return;
    try {
        restore(path, fd, jfd, pageSize);
    } catch (...) {
        ::close(jfd);
        throw;
    }
    ::close(jfd);
    if (::unlink(jpath.c_str()) != 0 && errno != ENOENT)
        throw Error(sysError("Cannot remove", jpath, errno));
}

std::unique_ptr<Pager> Pager::open(const std::string& path, bool writable)
{
    std::unique_ptr<Pager> p(new Pager());
    p->path_ = path;
    p->journalPath_ = path + "-journal";
    p->writable_ = writable;
    p->fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (p->fd_ < 0)
        throw Error(sysError("Cannot open", path, errno));
    p->lock(writable);

    uint8_t head[24];
    if (!readAll(p->fd_, head, sizeof head, 0))
        throw Error("'" + path + "' is not an Access database");
    static const uint8_t magic[] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a', 'r', 'd',
                                    ' ', 'J', 'e', 't', ' ', 'D', 'B', 0x00};
    if (std::memcmp(head, magic, sizeof magic) != 0)
        throw Error("'" + path + "' is not an Access database");
    uint32_t version = get32(head + 20);
    if (version > 1)
        throw Error("'" + path + "' is in a later Access format than Access 2000, which is not supported");
    p->pageSize_ = version == 1 ? 4096 : 2048;
    p->maxFileSize_ = version == 1 ? (1ull << 31) : (1ull << 30);

    if (writable) {
        recover(path, p->fd_, p->pageSize_);
        p->probeJournalFolder();
    } else {
        int jfd = ::open(p->journalPath_.c_str(), O_RDONLY | O_CLOEXEC);
        if (jfd >= 0) {
            uint32_t originalCount = 0;
            std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;
            if (readJournal(jfd, p->pageSize_, originalCount, pages)) {
                for (auto& [pg, data] : pages)
                    p->overlay_.emplace(pg, std::move(data));
                p->pageCount_ = originalCount;
            }
            ::close(jfd);
        }
    }
    uint64_t size = fileSize(p->fd_);
    if (p->overlay_.empty() || !p->pageCount_)
        p->pageCount_ = uint32_t(size / p->pageSize_);
    if (p->pageCount_ < 2)
        throw Error("'" + path + "' is damaged: it is too short to be an Access database");
    p->committedCount_ = p->pageCount_;
    return p;
}

std::unique_ptr<Pager> Pager::create(const std::string& path, uint32_t pageSize,
                                     const std::vector<uint8_t>& image)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error(sysError("Cannot create", path, errno));
    try {
        writeAll(fd, image.data(), image.size(), 0, path);
        syncFd(fd, path);
    } catch (...) {
        ::close(fd);
        ::unlink(path.c_str());
        throw;
    }
    ::close(fd);
    auto p = open(path, true);
    (void)pageSize;
    return p;
}

void Pager::probeJournalFolder()
{
    // Every change needs the journal beside the file: a folder that does not
    // take it is refused now, not at the first change of a run.
    int fd = ::open(journalPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error(sysError("Cannot write in the folder of", path_, errno) +
                    " (changes need a journal file beside the database)");
    ::close(fd);
    ::unlink(journalPath_.c_str());
}

Pager::CachedPage& Pager::load(uint32_t page)
{
    auto it = cache_.find(page);
    if (it != cache_.end())
        return *it->second;
    if (page >= pageCount_)
        throw Error("'" + path_ + "' is damaged: a reference to page " + std::to_string(page) +
                    " lies beyond the end of the file");
    auto cp = std::make_unique<CachedPage>();
    cp->data.resize(pageSize_);
    auto ov = overlay_.find(page);
    if (ov != overlay_.end())
        cp->data = ov->second;
    else if (!readAll(fd_, cp->data.data(), pageSize_, uint64_t(page) * pageSize_))
        throw Error(sysError("Cannot read", path_, errno ? errno : EIO));
    auto& ref = *cp;
    cache_.emplace(page, std::move(cp));
    return ref;
}

const uint8_t* Pager::read(uint32_t page)
{
    checkUsable();
    return load(page).data.data();
}

void Pager::ensureJournal()
{
    if (journalActive_)
        return;
    // The journal file is kept from one transaction to the next; between
    // transactions its header is cleared.
    if (journalFd_ < 0) {
        journalFd_ = ::open(journalPath_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (journalFd_ < 0)
            throw Error(sysError("Cannot create", journalPath_, errno));
    }
    uint8_t head[kJournalHeader] = {};
    std::memcpy(head, kJournalMagic, 8);
    put32(head + 8, pageSize_);
    put32(head + 12, committedCount_);
    // A new number for every transaction, never the last one's.
    uint32_t next = journalNonce_ * 1103515245u + 12345u;
    journalNonce_ = next == journalNonce_ ? next + 1 : next;
    put32(head + 20, journalNonce_);
    put32(head + 16, checksum(head, 16, journalNonce_));
    writeAll(journalFd_, head, kJournalHeader, 0, journalPath_);
    journalActive_ = true;
    journalSynced_ = false;
}

void Pager::journalOriginal(uint32_t page, const uint8_t* data)
{
    ensureJournal();
    std::vector<uint8_t> rec(8 + pageSize_);
    put32(rec.data(), page);
    std::memcpy(rec.data() + 4, data, pageSize_);
    put32(rec.data() + 4 + pageSize_, checksum(rec.data(), 4 + pageSize_, page ^ journalNonce_));
    uint64_t off = kJournalHeader + uint64_t(journaled_.size()) * rec.size();
    writeAll(journalFd_, rec.data(), rec.size(), off, journalPath_);
    journaled_.insert(page);
    journalSynced_ = false;
}

uint8_t* Pager::write(uint32_t page)
{
    if (!writable_)
        throw Error("The database '" + path_ + "' is open for reading only");
    checkUsable();
    CachedPage& cp = load(page);
    if (!cp.dirty) {
        if (page < committedCount_ && !journaled_.count(page))
            journalOriginal(page, cp.data.data());
        cp.dirty = true;
        dirty_.insert(page);
    }
    return cp.data.data();
}

void Pager::ensureRoom(uint32_t pages) const
{
    if ((uint64_t(pageCount_) + pages) * pageSize_ > maxFileSize_)
        throw Error("The database '" + path_ + "' has reached its size limit of " +
                    std::to_string(maxFileSize_ >> 20) + " MB");
}

uint32_t Pager::allocate()
{
    if (!writable_)
        throw Error("The database '" + path_ + "' is open for reading only");
    checkUsable();
    ensureRoom(1);
    uint32_t page = pageCount_++;
    auto cp = std::make_unique<CachedPage>();
    cp->data.assign(pageSize_, 0);
    cp->dirty = true;
    cache_[page] = std::move(cp);
    dirty_.insert(page);
    return page;
}

void Pager::syncJournal()
{
    if (journalFd_ >= 0 && !journalSynced_) {
        syncFd(journalFd_, journalPath_);
        journalSynced_ = true;
    }
}

void Pager::writeDirtyPages()
{
    // The journal (with the original length) must be on disk before the
    // file changes, also when only new pages are written.
    ensureJournal();
    syncJournal();
    std::vector<uint32_t> pages(dirty_.begin(), dirty_.end());
    std::sort(pages.begin(), pages.end());
    // Consecutive pages go out in one call, straight from the cache.
    std::vector<iovec> run;
    size_t i = 0;
    while (i < pages.size()) {
        size_t j = i;
        run.clear();
        while (j < pages.size() && pages[j] == pages[i] + (j - i) && run.size() < 1024) {
            auto& cp = *cache_[pages[j]];
            run.push_back(iovec{cp.data.data(), cp.data.size()});
            ++j;
        }
        writeAllVec(fd_, run, uint64_t(pages[i]) * pageSize_, path_);
        for (size_t k = i; k < j; ++k)
            cache_[pages[k]]->dirty = false;
        i = j;
    }
    dirty_.clear();
}

void Pager::commit()
{
    checkUsable();
    if (!dirty())
        return;
    try {
        // From here on the file may hold pages of this transaction.
        spilled_ = true;
        writeDirtyPages();
        syncFd(fd_, path_);
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
    committedCount_ = pageCount_;
    spilled_ = false;
    trimClean();
}

void Pager::finishJournal()
{
    if (journalActive_) {
        // Clearing the journal's header is the moment of commit. The file
        // keeps its length, so that the next transaction's records overwrite
        // blocks it already has: flushing them then needs no change of size.
        static const uint8_t cleared[kJournalHeader] = {};
        writeAll(journalFd_, cleared, kJournalHeader, 0, journalPath_);
        journalActive_ = false;
    }
    journaled_.clear();
    journalSynced_ = true;
}

void Pager::rollback()
{
    checkUsable();
    for (uint32_t page : dirty_)
        cache_.erase(page);
    dirty_.clear();
    if (spilled_) {
        // Pages already went to the file: put the originals back.
        cache_.clear();
        try {
            if (journalActive_) {
                syncJournal();
                restore(path_, fd_, journalFd_, pageSize_);
            }
            finishJournal();
        } catch (...) {
            broken_ = true;
            throw;
        }
    } else {
        finishJournal();
    }
    journaled_.clear();
    pageCount_ = committedCount_;
    spilled_ = false;
    // Pages past the committed end may still be cached from this transaction.
    for (auto it = cache_.begin(); it != cache_.end();)
        it = it->first >= committedCount_ ? cache_.erase(it) : std::next(it);
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
    if (!dirty_.empty()) {
        spilled_ = true;
        writeDirtyPages();
    }
    cache_.clear();
}

} // namespace jet
