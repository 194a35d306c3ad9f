#include "app/run.h"

#include <gtest/gtest.h>

#include "support/fake_run.h"

namespace vendrel {
namespace {

using platform::RootKey;
using testing::RunOutcome;

constexpr const char* kKey = "Software\\Tarvel Global";
constexpr RootKey kLm = RootKey::kLocalMachine;

const std::string kBanner =
    "\r\nVendrel.exe version 1.3\r\n"
    "Usage vendrel <drive> -v<version> -d<postgres_database_name> -p<pryn> -w<dromversion>\r\n"
    "  (if <version>=\"6/7\" then HKEY_LOCAL_MACHINE is updated, else HKEY_CURRENT_USER\r\n\r\n";

class RunTest : public ::testing::Test, public testing::FakeMachine {
 protected:
  RunTest() {
    registry_.PutText(kLm, kKey, "Drive", "C:");
    registry_.PutText(kLm, kKey, "InstPath", "C:\\KOVA32");
  }

  RunOutcome Run(std::vector<std::string> arguments) {
    return FakeMachine::Run(std::move(arguments), "\n");
  }

  std::string Stored(const std::string& name) {
    auto value = registry_.Get(kLm, kKey, name);
    return value ? value->data : "<absent>";
  }
};

TEST_F(RunTest, ACompleteRunEndsAtTheFinalPromptWithExitCode0) {
  RunOutcome result = Run({"F", "-v6/7", "-pY"});
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

TEST_F(RunTest, HeldOutputIsWrittenBeforeTheReport) {
  registry_.Put(kLm, kKey, "InstPath", {platform::kRegDword, std::string(4, '\0')});
  RunOutcome result = Run({"F", "-v6"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.output, kBanner +
                               "Reading from HKLM\r\n"
                               "Exception ERegistryException in module Vendrel.exe at 0040A1C4.\r\n"
                               "Invalid data type for 'InstPath'.\r\n\r\n");
}

}  // namespace
}  // namespace vendrel
