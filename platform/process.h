// What the program learns about its own process.
#ifndef VENDREL_PLATFORM_PROCESS_H_
#define VENDREL_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

namespace vendrel::platform {

class Process {
 public:
  virtual ~Process() = default;

  // The arguments after the program's own name, split into words.
  virtual std::vector<std::string> Arguments() = 0;

  // The full path of the program file (GetModuleFileNameA).
  virtual std::string ModuleFileName() = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_PROCESS_H_
