// Linked into the crash-test build only. VENDREL_CRASH_AFTER=N kills the
// process with SIGKILL right after its N-th store-changing system call, as a
// power cut or "kill -9" would: no destructor, no buffered output, no unlock
// but the kernel's.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/files/crash_point.h"

namespace vendrel::platform {
namespace {

long CrashLimit() {
  const char* text = std::getenv("VENDREL_CRASH_AFTER");
  return text == nullptr ? 0 : std::strtol(text, nullptr, 10);
}

}  // namespace

void CrashPointAfter(const char* call) {
  static const long limit = CrashLimit();
  static long count = 0;
  if (limit <= 0 || ++count != limit) return;
  const std::string note = "crash point " + std::to_string(count) + " after " + call + "\n";
  (void)!write(STDERR_FILENO, note.data(), note.size());
  kill(getpid(), SIGKILL);
}

}  // namespace vendrel::platform
