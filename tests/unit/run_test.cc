#include "app/run.h"

#include <gtest/gtest.h>

#include "platform/fake/faulty_files.h"
#include "platform/fake/faulty_registry.h"
#include "platform/fake/fixed_process.h"
#include "platform/fake/memory_console.h"
#include "platform/fake/memory_files.h"
#include "platform/fake/memory_profile.h"
#include "platform/fake/memory_registry.h"

namespace vendrel {
namespace {

using platform::FaultPlan;
using platform::RootKey;

constexpr const char* kKey = "Software\\Tarvel Global";
constexpr RootKey kLm = RootKey::kLocalMachine;

const std::string kBanner =
    "\r\nVendrel.exe version 1.3\r\n"
    "Usage vendrel <drive> -v<version> -d<postgres_database_name> -p<pryn> -w<dromversion>\r\n"
    "  (if <version>=\"6/7\" then HKEY_LOCAL_MACHINE is updated, else HKEY_CURRENT_USER\r\n\r\n";

struct RunResult {
  int exit_code;
  std::string output;
};

class RunTest : public ::testing::Test {
 protected:
  RunTest() {
    memory_.PutText(kLm, kKey, "Drive", "C:");
    memory_.PutText(kLm, kKey, "InstPath", "C:\\KOVA32");
  }

  RunResult Run(std::vector<std::string> arguments, std::string input = "\n") {
    platform::FaultyRegistry registry(memory_, plan_);
    platform::MemoryConsole console(std::move(input));
    console.set_fault_plan(&plan_);
    platform::FixedProcess process(std::move(arguments));
    platform::FaultyFiles files(files_, plan_);
    profile_.set_fault_plan(&plan_);
    int exit_code = RunProgram(RunPlatform{registry, files, profile_, console, process});
    return {exit_code, console.output()};
  }

  std::string Stored(const std::string& name) {
    auto value = memory_.Get(kLm, kKey, name);
    return value ? value->data : "<absent>";
  }

  platform::MemoryRegistry memory_;
  platform::MemoryFiles files_;
  platform::MemoryProfile profile_;
  FaultPlan plan_;
};

TEST_F(RunTest, ACompleteRunEndsAtTheFinalPromptWithExitCode0) {
  RunResult result = Run({"F", "-v6/7", "-pY"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output,
            kBanner +
                "Reading from HKLM\r\nCurrent values: \r\n  Drive:      C:\r\n"
                "  InstPath:   C:\\KOVA32\r\n  LocalDrive: \r\n  CDDIR:      \r\n"
                "  UPDIR:      \r\n  Practice Relief:   \r\n\r\n"
                "Values specified: F\r\n\r\nUpdating new values: \r\n  Drive:      F:\r\n"
                "  InstPath:   F:\\kova32\r\n  LocalDrive: F:\r\n  Practice Relief: Y\r\n"
                "  Weergawe: \r\n\r\nAny key to quit...");
  EXPECT_EQ(Stored("PracticeRelief"), std::string("Y\0", 2));
}

TEST_F(RunTest, AFailedConsoleWriteEndsTheRunWithExitCode1) {
  plan_.Fail("WriteFile(stdout)", 1, platform::kNoData);
  plan_.Fail("WriteFile(stdout)", 2, platform::kNoData);
  plan_.Fail("WriteFile(stdout)", 3, platform::kNoData);
  RunResult result = Run({"F", "-v6/7"});
  EXPECT_EQ(result.exit_code, 1);
  // The first block never went out, so nothing was read or written after it.
  EXPECT_EQ(plan_.Calls("RegOpenKeyExA"), 0);
  EXPECT_EQ(Stored("Drive"), std::string("C:\0", 3));
}

TEST_F(RunTest, HeldOutputIsWrittenBeforeTheReport) {
  memory_.Put(kLm, kKey, "InstPath", {platform::kRegDword, std::string(4, '\0')});
  RunResult result = Run({"F", "-v6"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.output, kBanner +
                               "Reading from HKLM\r\n"
                               "Exception ERegistryException in module Vendrel.exe at 0040A1C4.\r\n"
                               "Invalid data type for 'InstPath'.\r\n\r\n");
}

}  // namespace
}  // namespace vendrel
