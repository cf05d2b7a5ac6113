// The system calls the engine makes on files and folders, behind one header
// with one implementation per platform (file_io_posix.cpp, file_io_win32.cpp):
// the database file opened with its lock, positioned reads and writes that
// resume after short transfers, flushes of a file and of its folder, size,
// truncation, removal and atomic replacement, the real path of a file, the
// journal's careful open and exclusive create, local time and temporary
// folders.
//
// Paths are UTF-8 on every platform; on Windows they become UTF-16 at the
// Win32 calls. A file is an int descriptor on both: on Windows a C runtime
// descriptor over the Win32 handle (_open_osfhandle), so that the pager
// keeps one kind of handle. Calls that return false or -1 leave the reason
// in errno (Win32 errors translated to the nearest errno value); sysError
// turns it into a jet::Error.
#pragma once

#include "jet/error.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/uio.h>
#endif

namespace jet {

#ifdef _WIN32
// One buffer of a gathered write (the members of POSIX iovec).
struct IoBuffer {
    void* iov_base;
    size_t iov_len;
};
#else
using IoBuffer = iovec;
#endif

// A failed system call as an error: a lack of room is Full, the rest Io.
Error sysError(const std::string& what, const std::string& path, int err);

// Opens an existing database file for reading (a shared lock) or for reading
// and writing (an exclusive lock): one writer at a time, never beside a
// reader. Throws Busy when another program holds the file.
int openDatabaseFile(const std::string& path, bool writable);
// Creates a file that must not exist yet, for reading and writing; -1 if it
// cannot (EEXIST when the name is taken).
int createNewFile(const std::string& path);
void closeFile(int fd);

void writeAll(int fd, const uint8_t* data, size_t n, uint64_t offset, const std::string& path);
// Writes the buffers one after another from `offset`, resuming after short
// writes, so that pages go out from where they are cached.
void writeAllVec(int fd, std::vector<IoBuffer>& iov, uint64_t offset, const std::string& path);
// False at the end of the file or on an error.
bool readAll(int fd, uint8_t* data, size_t n, uint64_t offset);
// Reads up to `n` bytes from `offset`: the count read (fewer only at the end
// of the file), or -1 on an error.
long long readUpTo(int fd, uint8_t* data, size_t n, uint64_t offset);

void syncFd(int fd, const std::string& path);
// Makes the creation, removal or renaming of a file in the folder of `path`
// durable. Folders that cannot be flushed (EINVAL) are taken as they are.
void syncFolder(const std::string& path);

// What identifies an open file (its device and file number) and its length.
struct FileStatus {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
};
bool fileStatus(int fd, FileStatus& out);
bool truncateFile(int fd, uint64_t size);

// Removes the name (a link itself, never what it points to); errno ENOENT
// when there is none.
bool removeFile(const std::string& path);
// Whether anything, a dangling link included, has this name.
bool pathExists(const std::string& path);
// Renames `from` to `to` in one step, replacing a file named `to`.
bool replaceFile(const std::string& from, const std::string& to);

// The path with every link resolved and no "." or ".." left; the file must exist.
std::string realPath(const std::string& path);

// Opens an existing journal for reading: never through a symbolic link,
// never anything but a regular file (a planted FIFO must not block). -1 with
// errno ENOENT when there is none, ELOOP when the name is not a plain file.
int openJournalForReading(const std::string& path);
// Creates a writer's journal: only if the name is free (a link under it is
// not followed); -1 if it cannot.
int createJournalFile(const std::string& path);

// The local wall-clock time of `t`.
std::tm localTime(std::time_t t);

// Makes a new empty folder of this machine's temporary files, named
// `<prefix>-` and a unique suffix; empty if it cannot.
std::string makeTempFolder(const std::string& prefix);
bool removeFolder(const std::string& path);

} // namespace jet
