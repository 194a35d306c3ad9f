// Whole files in and out: a read into one buffer sized from the file's
// length; writes that go on after a short one, flushes to disk, and the
// flush of a folder after a name in it changed. Each store-changing call
// passes a crash point.
#ifndef VENDREL_PLATFORM_POSIX_FILES_FILE_IO_H_
#define VENDREL_PLATFORM_POSIX_FILES_FILE_IO_H_

#include <sys/types.h>

#include <string>
#include <string_view>

namespace vendrel::platform {

// Room kept behind a file read whole, so that the edit of an entry or a
// value can grow it in place.
constexpr std::size_t kEditRoom = 4096;

// Reads from fd's position to its end into one buffer sized from the file's
// length, reading on should the file have grown meanwhile. Returns 0 or an
// errno value.
int ReadToEnd(int fd, std::string* content);

// Writes all of data at the file's position, or at offset when it is not
// negative. Returns 0 or an errno value (ENOSPC for a write that makes no
// progress).
int WriteAll(int fd, std::string_view data, off_t offset = -1);

// fsync; returns 0 or an errno value.
int FlushFile(int fd);

// Flushes a folder after a name in it changed, where the folder can be
// opened for it. Never a failure: the change is in place before the flush.
void FlushFolder(const std::string& folder);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_FILE_IO_H_
