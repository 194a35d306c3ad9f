#include "platform/posix/files/beside.h"

#include <exception>
#include <system_error>
#include <thread>

namespace vendrel::platform {

void RunBeside(const std::function<void()>& side, const std::function<void()>& main) {
  std::exception_ptr failed;
  std::thread running;
  try {
    running = std::thread([&] {
      try {
        side();
      } catch (...) {
        failed = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    side();
  }
  try {
    main();
  } catch (...) {
    if (running.joinable()) running.join();
    throw;
  }
  if (running.joinable()) running.join();
  if (failed) std::rethrow_exception(failed);
}

}  // namespace vendrel::platform
