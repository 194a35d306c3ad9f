// The one table that turns errno values into the Windows codes the program
// reports, so that the Linux build fails exactly as the Windows one does.
#ifndef VENDREL_PLATFORM_POSIX_WIN_ERROR_MAP_H_
#define VENDREL_PLATFORM_POSIX_WIN_ERROR_MAP_H_

#include "base/win_codes.h"

namespace vendrel::platform {

WinCode WinCodeFromErrno(int error_number);

// True for the errno values of a file the user may not open as asked (no
// right, or a read-only file system): a registry key opened with access
// refused rather than a registry that cannot be read.
bool IsRefusal(int error_number);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_WIN_ERROR_MAP_H_
