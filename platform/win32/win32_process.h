#ifndef VENDREL_PLATFORM_WIN32_WIN32_PROCESS_H_
#define VENDREL_PLATFORM_WIN32_WIN32_PROCESS_H_

#include "platform/process.h"

namespace vendrel::platform {

// The command line as GetCommandLineA gives it, for the program to split.
class Win32Process : public Process {
 public:
  std::optional<std::string> CommandLineText() override;
  std::vector<std::string> SplitArguments() override { return {}; }
  std::string ModuleFileName() override;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_WIN32_WIN32_PROCESS_H_
