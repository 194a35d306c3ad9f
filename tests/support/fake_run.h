// Whole runs over fakes: every platform call goes through one fault plan, so
// a test can fail any of them and read back what the run left behind.
#ifndef VENDREL_TESTS_SUPPORT_FAKE_RUN_H_
#define VENDREL_TESTS_SUPPORT_FAKE_RUN_H_

#include <string>
#include <utility>
#include <vector>

#include "app/run.h"
#include "platform/fake/faulty_console.h"
#include "platform/fake/faulty_files.h"
#include "platform/fake/faulty_profile.h"
#include "platform/fake/faulty_registry.h"
#include "platform/fake/fixed_process.h"
#include "platform/fake/memory_console.h"
#include "platform/fake/memory_files.h"
#include "platform/fake/memory_profile.h"
#include "platform/fake/memory_registry.h"

namespace vendrel::testing {

struct RunOutcome {
  int exit_code;
  std::string output;
};

class FakeMachine {
 public:
  RunOutcome Run(std::vector<std::string> arguments, std::string typed) {
    platform::FaultyRegistry registry(registry_, plan_);
    platform::MemoryConsole memory_console(std::move(typed));
    platform::FaultyConsole console(memory_console, plan_);
    platform::FixedProcess process(std::move(arguments));
    platform::FaultyFiles files(files_, plan_);
    platform::FaultyProfile profile(profile_, plan_);
    int exit_code = RunProgram(platform::Seams{registry, files, profile, console, process});
    return {exit_code, memory_console.output()};
  }

 protected:
  platform::MemoryRegistry registry_;
  platform::MemoryFiles files_;
  platform::MemoryProfile profile_;
  platform::FaultPlan plan_;
};

}  // namespace vendrel::testing

#endif  // VENDREL_TESTS_SUPPORT_FAKE_RUN_H_
