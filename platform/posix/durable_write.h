// Writing bytes so that they stay written: whole writes that go on after a
// short one, flushes to disk, and the flush of a folder after a name in it
// changed. Each store-changing call passes a crash point.
#ifndef VENDREL_PLATFORM_POSIX_DURABLE_WRITE_H_
#define VENDREL_PLATFORM_POSIX_DURABLE_WRITE_H_

#include <sys/types.h>

#include <string>
#include <string_view>

namespace vendrel::platform {

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

#endif  // VENDREL_PLATFORM_POSIX_DURABLE_WRITE_H_
