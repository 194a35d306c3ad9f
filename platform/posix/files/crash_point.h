// A hook after every system call that changes what is stored on disk. The
// shipped program links the one that does nothing; a test build links one
// that can stop the process dead there, to check that no store is torn.
#ifndef VENDREL_PLATFORM_POSIX_FILES_CRASH_POINT_H_
#define VENDREL_PLATFORM_POSIX_FILES_CRASH_POINT_H_

namespace vendrel::platform {

// Called right after the call named has returned, whatever its result.
void CrashPointAfter(const char* call);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_CRASH_POINT_H_
