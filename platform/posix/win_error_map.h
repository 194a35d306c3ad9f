// The one table that turns errno values into the Windows codes the program
// reports, so that the Linux build fails exactly as the Windows one does.
#ifndef VENDREL_PLATFORM_POSIX_WIN_ERROR_MAP_H_
#define VENDREL_PLATFORM_POSIX_WIN_ERROR_MAP_H_

#include "base/win_codes.h"

namespace vendrel::platform {

WinCode WinCodeFromErrno(int error_number);

// True for the errno values of a file the user may not open as asked: a
// registry key opened with access refused rather than a registry that
// cannot be read. A read-only file system is no refusal: what it holds
// reads, and a write to it fails as on a write-protected medium.
bool IsRefusal(int error_number);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_WIN_ERROR_MAP_H_
