// The real platform of the machine the program was built for. Only main
// makes one; everything else is handed the narrow interfaces it needs.
#ifndef VENDREL_PLATFORM_SYSTEM_H_
#define VENDREL_PLATFORM_SYSTEM_H_

#include <memory>

#include "platform/seams.h"

namespace vendrel::platform {

class System {
 public:
  virtual ~System() = default;

  static std::unique_ptr<System> Create(int argc, char** argv);

  virtual Seams seams() = 0;

  // Ends the process with the exit code.
  [[noreturn]] virtual void Exit(int exit_code) = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_SYSTEM_H_
