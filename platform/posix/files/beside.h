// Two pieces of work at once, on a machine with cores to spare.
#ifndef VENDREL_PLATFORM_POSIX_FILES_BESIDE_H_
#define VENDREL_PLATFORM_POSIX_FILES_BESIDE_H_

#include <functional>

namespace vendrel::platform {

// Runs side on a thread of its own while main runs on this one, and returns
// once both have ended; where no thread can be started, runs side first.
// What either throws comes out here, once both have ended.
void RunBeside(const std::function<void()>& side, const std::function<void()>& main);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_BESIDE_H_
