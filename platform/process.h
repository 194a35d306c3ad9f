// What the program learns about its own process.
#ifndef VENDREL_PLATFORM_PROCESS_H_
#define VENDREL_PLATFORM_PROCESS_H_

#include <optional>
#include <string>
#include <vector>

namespace vendrel::platform {

class Process {
 public:
  virtual ~Process() = default;

  // The whole command line as one text, on a platform that keeps it so
  // (GetCommandLineA); the program splits it by its own rules.
  virtual std::optional<std::string> CommandLineText() = 0;

  // The arguments after the program's name, on a platform that hands them
  // over already split into words.
  virtual std::vector<std::string> SplitArguments() = 0;

  // The full path of the program file (GetModuleFileNameA).
  virtual std::string ModuleFileName() = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_PROCESS_H_
