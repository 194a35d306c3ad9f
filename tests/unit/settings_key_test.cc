#include "settings/settings_key.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "settings/installation_values.h"
#include "support/product_key.h"

namespace vendrel {
namespace {

using platform::RootKey;
using platform::StoredValue;
using testing::kLm;
constexpr const char* kKey = testing::kProductKey;

class SettingsKeyTest : public testing::ProductKeyTest {};

TEST_F(SettingsKeyTest, SizeQueryFailureOrZeroSizeIsAnEmptyValueOfAnyType) {
  memory_.Put(kLm, kKey, "updir", StoredValue{platform::kRegBinary, ""});
  memory_.Put(kLm, kKey, "LocalDrive", StoredValue{platform::kRegDword, ""});
  plan_.Fail("RegQueryValueExA(size)", 1, kAccessDenied);
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

// A damaged registry is no absent key: the run reports it, with the reason
// the registry gives where it gives one.
TEST_F(SettingsKeyTest, ADamagedRegistryIsReportedNotPassedOver) {
  plan_.Fail("RegOpenKeyExA", 1, kRegistryCorrupt);
  SettingsKey key(registry_);
  key.SetRoot(kLm);
  try {
    key.Open(kSettingsKeyPath);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kRegistry);
    EXPECT_EQ(error.message(), "Registry error 1015");
    EXPECT_EQ(error.site(), RaiseSite::kRegistryStore);
  }
  plan_.Fail("RegOpenKeyExA", 2, kAccessDenied);
  EXPECT_FALSE(key.Open(kSettingsKeyPath));
  ASSERT_TRUE(key.Open(kSettingsKeyPath));
  plan_.Fail("RegSetValueExA", 1, kRegistryIoFailed);
  EXPECT_THROW(key.WriteText("Drive", "F:"), Error);
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
