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

// The most a file of each kind may hold before it is read whole: a disk the
// program does not trust cannot make it take more memory than that.
constexpr std::size_t kLargestStore = std::size_t{1} << 30;
constexpr std::size_t kLargestHive = std::size_t{1} << 30;
constexpr std::size_t kLargestSettingsFile = std::size_t{64} << 20;

// Reads from fd's position to its end into one buffer sized from the file's
// length, reading on should the file have grown meanwhile. Returns 0 or an
// errno value: EOVERFLOW for a file of more than cap bytes, which is not
// read.
int ReadToEnd(int fd, std::string* content, std::size_t cap);

// Reads size bytes at offset into out, which must hold them. Returns 0 or
// an errno value (EIO where the file ends before them: it was cut short
// since its length was looked at).
int ReadAt(int fd, char* out, std::size_t size, off_t offset);

// Writes all of data at the file's position, or at offset when it is not
// negative. Returns 0 or an errno value (ENOSPC for a write that makes no
// progress).
int WriteAll(int fd, std::string_view data, off_t offset = -1);

// fsync; returns 0 or an errno value.
int FlushFile(int fd);

// Holds room on the disk for fd to reach length bytes, its size left as it
// is: a full disk, a quota or the process's file-size limit (EFBIG) is met
// now rather than by the writes that follow. A file system that cannot
// allocate ahead holds nothing, and says nothing. Returns 0 or an errno
// value.
int HoldRoom(int fd, std::size_t length);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_FILE_IO_H_
