// A hook after every system call that changes what is stored on disk. The
// shipped program links the one that does nothing; a test build links one
// that can stop the process dead there, to check that no store is torn.
#ifndef VENDREL_PLATFORM_POSIX_FILES_CRASH_POINT_H_
#define VENDREL_PLATFORM_POSIX_FILES_CRASH_POINT_H_

#include <sys/types.h>

#include <cstddef>

namespace vendrel::platform {

// Called right after the call named has returned, whatever its result.
void CrashPointAfter(const char* call);

// Called right before size bytes are written to fd at offset (at its
// position when negative), and after fd's file was flushed: a test build
// may then stop as a power cut does, with what was written since each
// file's last flush lost.
void CrashPointBeforeWrite(int fd, off_t offset, std::size_t size);
void CrashPointFlushed(int fd);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_CRASH_POINT_H_
