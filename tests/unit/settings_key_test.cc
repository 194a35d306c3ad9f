#include "settings/settings_key.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/fake/faulty_registry.h"
#include "platform/fake/memory_registry.h"
#include "settings/installation_values.h"

namespace vendrel {
namespace {

using platform::FaultPlan;
using platform::FaultyRegistry;
using platform::MemoryRegistry;
using platform::RootKey;
using platform::StoredValue;

constexpr const char* kKey = "Software\\Tarvel Global";
constexpr RootKey kLm = RootKey::kLocalMachine;

class SettingsKeyTest : public ::testing::Test {
 protected:
  SettingsKeyTest() : registry_(memory_, plan_) {
    memory_.PutText(kLm, kKey, "Drive", "C:");
    memory_.PutText(kLm, kKey, "InstPath", "C:\\KOVA32");
    memory_.PutText(kLm, kKey, "cddir", "D:\\");
  }

  MemoryRegistry memory_;
  FaultPlan plan_;
  FaultyRegistry registry_;
};

TEST_F(SettingsKeyTest, ReadStepFillsTheValuesAndFlushesOnClose) {
  SettingsValues values = ReadSettingsValues(registry_, kLm);
  EXPECT_EQ(values.drive, "C:");
  EXPECT_EQ(values.inst_path, "C:\\KOVA32");
  EXPECT_EQ(values.cddir, "D:\\");
  EXPECT_EQ(values.updir, "");
  EXPECT_EQ(plan_.Calls("RegFlushKey"), 1);
  EXPECT_EQ(memory_.open_handles(), 0);
}

TEST_F(SettingsKeyTest, AKeyThatDoesNotOpenReadsEmptyAndWritesNothing) {
  memory_.RefuseAccess(RootKey::kCurrentUser, kKey);
  SettingsValues values = ReadSettingsValues(registry_, RootKey::kCurrentUser);
  EXPECT_EQ(values.drive, "");
  WriteSettingsValues(registry_, RootKey::kCurrentUser, "F:", "F:\\kova32", "F:", "");
  EXPECT_EQ(plan_.Calls("RegSetValueExA"), 0);
  StoredDrive stored = ReadStoredDrive(registry_, RootKey::kCurrentUser);
  EXPECT_FALSE(stored.key_opened);
  EXPECT_EQ(stored.drive, "");
}

TEST_F(SettingsKeyTest, WriteStepUpperCasesFourValuesAndKeepsTheRest) {
  WriteSettingsValues(registry_, kLm, "f:", "f:\\kova32", "f:", "y\xe9");
  EXPECT_EQ(memory_.Get(kLm, kKey, "Drive"), (StoredValue{platform::kRegSz, {"F:\0", 3}}));
  EXPECT_EQ(memory_.Get(kLm, kKey, "InstPath")->data, std::string("F:\\KOVA32\0", 10));
  EXPECT_EQ(memory_.Get(kLm, kKey, "PracticeRelief")->data, std::string("Y\xe9\0", 3));
  EXPECT_EQ(memory_.Get(kLm, kKey, "cddir")->data, std::string("D:\\\0", 4));
  EXPECT_EQ(plan_.Calls("RegFlushKey"), 1);
  EXPECT_EQ(ReadStoredDrive(registry_, kLm).drive, "F:");
}

TEST_F(SettingsKeyTest, ARefusedSetKeepsEarlierValuesAndStopsLaterOnes) {
  plan_.Fail("RegSetValueExA", 2, platform::kAccessDenied);
  try {
    WriteSettingsValues(registry_, kLm, "F:", "F:\\kova32", "F:", "Y");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kRegistry);
    EXPECT_EQ(error.message(), "Failed to set data for 'InstPath'");
  }
  EXPECT_EQ(memory_.Get(kLm, kKey, "Drive")->data, std::string("F:\0", 3));
  EXPECT_EQ(memory_.Get(kLm, kKey, "InstPath")->data, std::string("C:\\KOVA32\0", 10));
  EXPECT_FALSE(memory_.Get(kLm, kKey, "LocalDrive"));
  EXPECT_EQ(plan_.Calls("RegSetValueExA"), 2);
  // The key is still flushed and released on the way out.
  EXPECT_EQ(plan_.Calls("RegFlushKey"), 1);
  EXPECT_EQ(memory_.open_handles(), 0);
}

TEST_F(SettingsKeyTest, ADataQueryFailingAfterTheSizeQuery) {
  plan_.Fail("RegQueryValueExA(data)", 2, platform::kFileNotFound);
  try {
    ReadSettingsValues(registry_, kLm);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.message(), "Failed to get data for 'InstPath'");
    EXPECT_EQ(error.site(), RaiseSite::kRegistryGetData);
  }
  EXPECT_EQ(memory_.open_handles(), 0);
}

TEST_F(SettingsKeyTest, SizeQueryFailureOrZeroSizeIsAnEmptyValueOfAnyType) {
  memory_.Put(kLm, kKey, "updir", StoredValue{platform::kRegBinary, ""});
  memory_.Put(kLm, kKey, "LocalDrive", StoredValue{platform::kRegDword, ""});
  plan_.Fail("RegQueryValueExA(size)", 1, platform::kAccessDenied);
  SettingsValues values = ReadSettingsValues(registry_, kLm);
  EXPECT_EQ(values.drive, "");
  EXPECT_EQ(values.updir, "");
  EXPECT_EQ(values.local_drive, "");
  EXPECT_EQ(values.inst_path, "C:\\KOVA32");
}

TEST_F(SettingsKeyTest, TextIsReadUpToItsFirstNulOrInFull) {
  memory_.Put(kLm, kKey, "Drive", StoredValue{platform::kRegSz, "NO_NUL"});
  memory_.Put(kLm, kKey, "InstPath", StoredValue{platform::kRegExpandSz, {"%X%\0tail\0", 9}});
  memory_.PutText(kLm, kKey, "cddir", std::string(300, 'c'));
  memory_.Put(kLm, kKey, "updir", StoredValue{platform::kRegDword, {"\1\0\0\0", 4}});
  SettingsKey key(registry_);
  key.SetRoot(kLm);
  ASSERT_TRUE(key.Open(kSettingsKeyPath));
  EXPECT_EQ(key.current_path(), kKey);
  EXPECT_EQ(key.ReadText("Drive"), "NO_NUL");
  EXPECT_EQ(key.ReadText("InstPath"), "%X%");
  EXPECT_EQ(key.ReadText("cddir").size(), 300u);
  EXPECT_THROW(key.ReadText("updir"), Error);
  key.Close();
  EXPECT_EQ(plan_.Calls("RegFlushKey"), 0);  // lazy write on: released without a flush
  memory_.PutText(kLm, kKey, "updir", "U");
  EXPECT_EQ(ReadSettingsValues(registry_, kLm).cddir, std::string(255, 'c'));
}

TEST_F(SettingsKeyTest, ChangingTheRootClosesTheKey) {
  SettingsKey key(registry_);
  key.SetRoot(kLm);
  ASSERT_TRUE(key.Open(kSettingsKeyPath));
  key.SetRoot(kLm);
  EXPECT_TRUE(key.is_open());
  key.SetRoot(RootKey::kCurrentUser);
  EXPECT_FALSE(key.is_open());
  EXPECT_EQ(memory_.open_handles(), 0);
}

}  // namespace
}  // namespace vendrel
