#ifndef VENDREL_PLATFORM_POSIX_POSIX_PROCESS_H_
#define VENDREL_PLATFORM_POSIX_POSIX_PROCESS_H_

#include <string>
#include <vector>

#include "platform/process.h"

namespace vendrel::platform {

class PosixProcess : public Process {
 public:
  PosixProcess(int argc, char** argv);

  // The words the shell split, less empty ones: a Windows command line can
  // never hold an empty word, and the two builds must agree.
  std::optional<std::string> CommandLineText() override { return std::nullopt; }
  std::vector<std::string> SplitArguments() override;
  std::string ModuleFileName() override;

 private:
  std::vector<std::string> arguments_;
  std::string invoked_as_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_POSIX_PROCESS_H_
