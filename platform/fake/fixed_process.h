// A process whose arguments and program file a test chooses.
#ifndef VENDREL_PLATFORM_FAKE_FIXED_PROCESS_H_
#define VENDREL_PLATFORM_FAKE_FIXED_PROCESS_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace vendrel::platform {

class FixedProcess : public Process {
 public:
  explicit FixedProcess(std::vector<std::string> arguments,
                        std::string module = "C:\\Tools\\Vendrel.exe")
      : arguments_(std::move(arguments)), module_(std::move(module)) {}

  std::optional<std::string> CommandLineText() override { return std::nullopt; }
  std::vector<std::string> SplitArguments() override { return arguments_; }
  std::string ModuleFileName() override { return module_; }

 private:
  std::vector<std::string> arguments_;
  std::string module_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_FIXED_PROCESS_H_
