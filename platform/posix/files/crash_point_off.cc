#include "platform/posix/files/crash_point.h"

namespace vendrel::platform {

void CrashPointAfter(const char* /*call*/) {}
void CrashPointBeforeWrite(int /*fd*/, off_t /*offset*/, std::size_t /*size*/) {}
void CrashPointFlushed(int /*fd*/) {}

}  // namespace vendrel::platform
