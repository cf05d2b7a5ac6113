// The engine's system calls on Windows (file_io.h says what each does).
//
// Locking: a writer opens the database sharing it for reading only, so that
// Access, a second Ferrowane or any program that asks for write access is
// refused while it works, and a reader shares it for reading only, so that
// no writer starts beside it. On top of the share modes, the engine's own
// reader/writer lock is a byte past the largest Jet file (4 GB), taken with
// LockFileEx: shared by readers, exclusive by a writer, as flock does on
// POSIX systems. Both go with the handle, also when the process is killed.
//
// Paths: UTF-8 in, UTF-16 at the calls. Links are never followed to a
// journal (FILE_FLAG_OPEN_REPARSE_POINT); the real path comes from the open
// handle (GetFinalPathNameByHandleW). Folders need no flush on Windows: the
// file system journals its own folder entries.
#include "jet/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace jet {

namespace {

// The engine's lock byte: past the end of any Jet file (2 GB at most), so
// that it never covers bytes another reader of the file reads.
constexpr DWORD kLockOffsetHigh = 1;

// The nearest errno value of a Win32 error, so that callers handle both
// platforms alike.
int errnoOf(DWORD err)
{
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case 1295: // ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers lack
        return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NO_UNICODE_TRANSLATION:
        return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    default:
        return EIO;
    }
}

// Records the last Win32 error in errno; for the calls that return false or -1.
void setErrno()
{
    errno = errnoOf(GetLastError());
}

std::wstring wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, size_t size)
{
    if (size == 0)
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text, int(size), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(size), out.data(), n, nullptr, nullptr);
    return out;
}

// The UTF-16 form of a path; an empty path or one that is not UTF-8 opens
// nothing (ERROR_INVALID_NAME).
HANDLE openHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    std::wstring name = wide(path);
    if (name.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// A C runtime descriptor that owns the handle; -1 (and the handle closed)
// when the runtime has no room for one.
int descriptorOf(HANDLE h, bool writable)
{
    int fd = _open_osfhandle(intptr_t(h), (writable ? _O_RDWR : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

HANDLE handleOf(int fd)
{
    return HANDLE(_get_osfhandle(fd));
}

OVERLAPPED at(uint64_t offset)
{
    OVERLAPPED ov{};
    ov.Offset = DWORD(offset);
    ov.OffsetHigh = DWORD(offset >> 32);
    return ov;
}

// At most 1 GB a call, the size a DWORD count surely takes.
DWORD chunk(size_t n)
{
    return DWORD(std::min<size_t>(n, size_t(1) << 30));
}

} // namespace

// A failed system call as an error: a lack of room is Full, the rest Io.
Error sysError(const std::string& what, const std::string& path, int err)
{
    if (err == ENOSPC)
        return Error(ErrorKind::Full, what + " '" + path + "': the disk is full");
    if (err == EFBIG)
        return Error(ErrorKind::Full,
                     what + " '" + path + "': the file has reached the largest size this system allows it");
    return Error(ErrorKind::Io, what + " '" + path + "': " + std::strerror(err));
}

int openDatabaseFile(const std::string& path, bool writable)
{
    const Error busy(ErrorKind::Busy, "The database '" + path + "' is in use by another program");
    HANDLE h = openHandle(path, GENERIC_READ | (writable ? GENERIC_WRITE : 0), FILE_SHARE_READ, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION)
            throw busy;
        throw sysError("Cannot open", path, errnoOf(err));
    }
    OVERLAPPED ov = at(uint64_t(kLockOffsetHigh) << 32);
    if (!LockFileEx(h, (writable ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
        DWORD err = GetLastError();
        CloseHandle(h);
        if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING)
            throw busy;
        throw sysError("Cannot lock", path, errnoOf(err));
    }
    int fd = descriptorOf(h, writable);
    if (fd < 0)
        throw sysError("Cannot open", path, errno);
    return fd;
}

int createNewFile(const std::string& path)
{
    HANDLE h = openHandle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return -1;
    }
    return descriptorOf(h, true);
}

void closeFile(int fd)
{
    _close(fd);
}

void writeAll(int fd, const uint8_t* data, size_t n, uint64_t offset, const std::string& path)
{
    HANDLE h = handleOf(fd);
    while (n > 0) {
        OVERLAPPED ov = at(offset);
        DWORD w = 0;
        if (!WriteFile(h, data, chunk(n), &w, &ov))
            throw sysError("Cannot write", path, errnoOf(GetLastError()));
        if (w == 0)
            throw sysError("Cannot write", path, EIO);
        data += w;
        n -= w;
        offset += w;
    }
}

// Windows gathers writes only for unbuffered, sector-aligned files: the
// buffers go out one call each.
void writeAllVec(int fd, std::vector<IoBuffer>& iov, uint64_t offset, const std::string& path)
{
    for (const IoBuffer& b : iov) {
        writeAll(fd, static_cast<const uint8_t*>(b.iov_base), b.iov_len, offset, path);
        offset += b.iov_len;
    }
}

long long readUpTo(int fd, uint8_t* data, size_t n, uint64_t offset)
{
    HANDLE h = handleOf(fd);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED ov = at(offset + done);
        DWORD r = 0;
        if (!ReadFile(h, data + done, chunk(n - done), &r, &ov)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            setErrno();
            return -1;
        }
        if (r == 0)
            break;
        done += r;
    }
    return (long long)done;
}

bool readAll(int fd, uint8_t* data, size_t n, uint64_t offset)
{
    return readUpTo(fd, data, n, offset) == (long long)n;
}

void syncFd(int fd, const std::string& path)
{
    if (!FlushFileBuffers(handleOf(fd)))
        throw sysError("Cannot flush", path, errnoOf(GetLastError()));
}

// NTFS and the other Windows file systems keep their folder entries in
// their own journal; there is no call that flushes a folder.
void syncFolder(const std::string&)
{
}

bool fileStatus(int fd, FileStatus& out)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handleOf(fd), &info)) {
        setErrno();
        return false;
    }
    out.device = info.dwVolumeSerialNumber;
    out.inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

bool truncateFile(int fd, uint64_t size)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = LONGLONG(size);
    if (!SetFileInformationByHandle(handleOf(fd), FileEndOfFileInfo, &end, sizeof end)) {
        setErrno();
        return false;
    }
    return true;
}

bool removeFile(const std::string& path)
{
    std::wstring name = wide(path);
    if (name.empty()) {
        errno = EINVAL;
        return false;
    }
    if (!DeleteFileW(name.c_str())) {
        setErrno();
        return false;
    }
    return true;
}

bool pathExists(const std::string& path)
{
    std::wstring name = wide(path);
    if (!name.empty() && GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD err = name.empty() ? ERROR_INVALID_NAME : GetLastError();
    return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    std::wstring a = wide(from), b = wide(to);
    if (a.empty() || b.empty()) {
        errno = EINVAL;
        return false;
    }
    if (!MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        setErrno();
        return false;
    }
    return true;
}

std::string realPath(const std::string& path)
{
    // No access asked, every sharing allowed: this open never disturbs the
    // database's own locks. Folders open too (FILE_FLAG_BACKUP_SEMANTICS).
    HANDLE h = openHandle(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE)
        throw sysError("Cannot open", path, errnoOf(GetLastError()));
    std::wstring buf(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, buf.data(), DWORD(buf.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= buf.size()) {
        buf.assign(n + 1, L'\0');
        n = GetFinalPathNameByHandleW(h, buf.data(), DWORD(buf.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    DWORD err = GetLastError();
    CloseHandle(h);
    if (n == 0 || n >= buf.size())
        throw sysError("Cannot open", path, errnoOf(err));
    buf.resize(n);
    // "\\?\C:\dir\file" -> "C:\dir\file", "\\?\UNC\server\share" -> "\\server\share".
    if (buf.rfind(L"\\\\?\\UNC\\", 0) == 0)
        buf = L"\\\\" + buf.substr(8);
    else if (buf.rfind(L"\\\\?\\", 0) == 0)
        buf = buf.substr(4);
    return narrow(buf.data(), buf.size());
}

int openJournalForReading(const std::string& path)
{
    HANDLE h = openHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return -1;
    }
    // A link opens as itself here: anything but a plain file is refused.
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(h);
        errno = ELOOP;
        return -1;
    }
    return descriptorOf(h, false);
}

int createJournalFile(const std::string& path)
{
    HANDLE h = openHandle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return -1;
    }
    return descriptorOf(h, true);
}

std::tm localTime(std::time_t t)
{
    std::tm tm{};
    localtime_s(&tm, &t);
    return tm;
}

std::string makeTempFolder(const std::string& prefix)
{
    wchar_t base[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH)
        return std::string();
    const std::string folder = narrow(base, n);
    LARGE_INTEGER tick;
    QueryPerformanceCounter(&tick);
    uint64_t seed = uint64_t(tick.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32);
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // CreateDirectoryW takes a name only if it is free: the first free one wins.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + prefix + "-";
        for (int i = 0; i < 6; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            name += digits[(seed >> 33) % 36];
        }
        if (CreateDirectoryW(wide(name).c_str(), nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    setErrno();
    return std::string();
}

bool removeFolder(const std::string& path)
{
    std::wstring name = wide(path);
    if (name.empty()) {
        errno = EINVAL;
        return false;
    }
    if (!RemoveDirectoryW(name.c_str())) {
        setErrno();
        return false;
    }
    return true;
}

} // namespace jet
