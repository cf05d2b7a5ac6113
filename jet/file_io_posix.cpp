// The engine's system calls on POSIX systems (file_io.h says what each does).
#include "jet/file_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jet {

// A failed system call as an error: a lack of room is Full, the rest Io.
Error sysError(const std::string& what, const std::string& path, int err)
{
    if (err == ENOSPC)
        return Error(ErrorKind::Full, what + " '" + path + "': the disk is full");
    if (err == EFBIG)
        return Error(ErrorKind::Full,
                     what + " '" + path + "': the file has reached the largest size this system allows it");
    if (err == EDQUOT)
        return Error(ErrorKind::Full, what + " '" + path + "': the disk quota is exhausted");
    return Error(ErrorKind::Io, what + " '" + path + "': " + std::strerror(err));
}

int openDatabaseFile(const std::string& path, bool writable)
{
    int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        throw sysError("Cannot open", path, errno);
    if (::flock(fd, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            throw Error(ErrorKind::Busy, "The database '" + path + "' is in use by another program");
        throw sysError("Cannot lock", path, err);
    }
    return fd;
}

int createNewFile(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

void closeFile(int fd)
{
    ::close(fd);
}

void writeAll(int fd, const uint8_t* data, size_t n, uint64_t offset, const std::string& path)
{
    while (n > 0) {
        ssize_t w = ::pwrite(fd, data, n, off_t(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throw sysError("Cannot write", path, errno);
        }
        data += w;
        n -= size_t(w);
        offset += uint64_t(w);
    }
}

// Writes the buffers one after another from `offset`, resuming after short
// writes, so that pages go out from where they are cached.
void writeAllVec(int fd, std::vector<IoBuffer>& iov, uint64_t offset, const std::string& path)
{
    size_t first = 0;
    while (first < iov.size()) {
        ssize_t w = ::pwritev(fd, iov.data() + first, int(std::min<size_t>(iov.size() - first, IOV_MAX)),
                              off_t(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throw sysError("Cannot write", path, errno);
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

long long readUpTo(int fd, uint8_t* data, size_t n, uint64_t offset)
{
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd, data + done, n - done, off_t(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += size_t(r);
    }
    return (long long)done;
}

void syncFd(int fd, const std::string& path)
{
    if (::fdatasync(fd) != 0)
        throw sysError("Cannot flush", path, errno);
}

// Makes the creation, removal or renaming of a file in the folder of `path`
// durable. Folders that cannot be flushed (EINVAL) are taken as they are.
void syncFolder(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw sysError("Cannot open the folder of", path, errno);
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL)
        throw sysError("Cannot flush the folder of", path, err);
}

bool fileStatus(int fd, FileStatus& out)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    out.device = uint64_t(st.st_dev);
    out.inode = uint64_t(st.st_ino);
    out.size = uint64_t(st.st_size);
    return true;
}

bool truncateFile(int fd, uint64_t size)
{
    return ::ftruncate(fd, off_t(size)) == 0;
}

bool removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool pathExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string realPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        throw sysError("Cannot open", path, errno);
    std::string out(real);
    std::free(real);
    return out;
}

// Opens an existing journal for reading: never through a symbolic link,
// never anything but a regular file (a planted FIFO must not block). -1 with
// errno ENOENT when there is none, ELOOP when the name is not a plain file.
int openJournalForReading(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = ELOOP;
        return -1;
    }
    return fd;
}

int createJournalFile(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

std::tm localTime(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string makeTempFolder(const std::string& prefix)
{
    std::string name = "/tmp/" + prefix + "-XXXXXX";
    return ::mkdtemp(name.data()) ? name : std::string();
}

bool removeFolder(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0;
}

} // namespace jet
