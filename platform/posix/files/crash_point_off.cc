#include "platform/posix/files/crash_point.h"

namespace vendrel::platform {

void CrashPointAfter(const char* /*call*/) {}

}  // namespace vendrel::platform
