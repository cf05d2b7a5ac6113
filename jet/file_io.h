// The system calls the pager makes on files and folders (POSIX): positioned
// reads and writes that resume after short transfers, flushes of a file and
// of its folder, the real path of a file, and the journal's careful open.
// Failures become jet::Error with the kind the system's error number means.
#pragma once

#include "jet/error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/uio.h>

namespace jet {

// A failed system call as an error: a lack of room is Full, the rest Io.
Error sysError(const std::string& what, const std::string& path, int err);

void writeAll(int fd, const uint8_t* data, size_t n, uint64_t offset, const std::string& path);
// Writes the buffers one after another from `offset`, resuming after short
// writes, so that pages go out from where they are cached.
void writeAllVec(int fd, std::vector<iovec>& iov, uint64_t offset, const std::string& path);
// False at the end of the file or on an error.
bool readAll(int fd, uint8_t* data, size_t n, uint64_t offset);

void syncFd(int fd, const std::string& path);
// Makes the creation, removal or renaming of a file in the folder of `path`
// durable. Folders that cannot be flushed (EINVAL) are taken as they are.
void syncFolder(const std::string& path);

std::string realPath(const std::string& path);

// Opens an existing journal for reading: never through a symbolic link,
// never anything but a regular file (a planted FIFO must not block). -1 with
// errno ENOENT when there is none, ELOOP when the name is not a plain file.
int openJournalForReading(const std::string& path);

} // namespace jet
