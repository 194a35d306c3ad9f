// The one place the Windows API is included: the lean set of declarations,
// and no min and max macros to collide with the standard library.
#ifndef VENDREL_PLATFORM_WIN32_WINDOWS_API_H_
#define VENDREL_PLATFORM_WIN32_WINDOWS_API_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#endif  // VENDREL_PLATFORM_WIN32_WINDOWS_API_H_
