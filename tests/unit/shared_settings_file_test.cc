#include "settings/shared_settings_file.h"

#include <gtest/gtest.h>

#include "app/console_stream.h"
#include "base/error.h"
#include "platform/fake/faulty_profile.h"
#include "platform/fake/memory_console.h"
#include "platform/fake/memory_profile.h"

namespace vendrel {
namespace {

using platform::FaultPlan;
using Sections = platform::MemoryProfile::Sections;

class StoreDatabaseNameTest : public ::testing::Test {
 protected:
  StoreDatabaseNameTest() : profile_(memory_, plan_) {
    memory_.AddFolder("F:\\kova");
    memory_.Put("F:\\kova\\kelvarini.dat",
                {{"POSTGRES_SERVER", {{"langver", "1"}, {"util_ver", "2"}}}});
  }

  void Store(const std::string& name) {
    ConsoleStream out(console_);
    try {
      StoreDatabaseName("F:", name, profile_, generator_, out);
    } catch (...) {
      out.Flush();
      throw;
    }
    out.Flush();
  }

  platform::MemoryProfile memory_;
  FaultPlan plan_;
  platform::FaultyProfile profile_;
  platform::MemoryConsole console_;
  ScrambleGenerator generator_;
};

TEST_F(StoreDatabaseNameTest, WritesTheScrambledNameDeletesFourKeysAndFlushes) {
  Store("abc");
  EXPECT_EQ(memory_.Get("f:\\KOVA\\kelvarini.dat"),
            (Sections{{"POSTGRES_SERVER", {{"database", "HofejnE5iQ0"}}}}));
  EXPECT_EQ(console_.output(), "Setting Postgres DB: abc\r\n");
  EXPECT_EQ(plan_.log(),
            (std::vector<std::string>{
                "WritePrivateProfileStringA(write)", "WritePrivateProfileStringA(delete)",
                "WritePrivateProfileStringA(delete)", "WritePrivateProfileStringA(delete)",
                "WritePrivateProfileStringA(delete)", "WritePrivateProfileStringA(flush)"}));
}

TEST_F(StoreDatabaseNameTest, AFailedWriteDeletesNothingButStillFlushes) {
  plan_.Fail("WritePrivateProfileStringA(write)", 1, kAccessDenied);
  try {
    Store("clinic");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kIniFile);
    EXPECT_EQ(error.message(), "Unable to write to F:\\kova\\kelvarini.dat");
  }
  EXPECT_EQ(plan_.Calls("WritePrivateProfileStringA(delete)"), 0);
  EXPECT_EQ(plan_.Calls("WritePrivateProfileStringA(flush)"), 1);
  EXPECT_EQ(console_.output(), "");
}

TEST_F(StoreDatabaseNameTest, FailedDeletesAndFlushAreSilent) {
  plan_.Fail("WritePrivateProfileStringA(delete)", 1, kAccessDenied);
  plan_.Fail("WritePrivateProfileStringA(flush)", 1, kAccessDenied);
  Store("abc");
  EXPECT_EQ(console_.output(), "Setting Postgres DB: abc\r\n");
  EXPECT_EQ(plan_.Calls("WritePrivateProfileStringA(delete)"), 4);
}

TEST_F(StoreDatabaseNameTest, NamesThatCannotBeReadBackAreRefusedUntouched) {
  for (const std::string& name :
       {std::string(253, 'n'), std::string("db\n[X]"), std::string("db\r")}) {
    EXPECT_THROW(Store(name), Error);
  }
  EXPECT_EQ(plan_.Calls("WritePrivateProfileStringA(write)"), 0);
  Store(std::string(252, 'n'));
  EXPECT_EQ(plan_.Calls("WritePrivateProfileStringA(write)"), 1);
}

}  // namespace
}  // namespace vendrel
