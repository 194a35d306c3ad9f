#include "settings/installation_values.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/product_key.h"

namespace vendrel {
namespace {

using platform::RootKey;
using platform::StoredValue;
using testing::kLm;
using testing::kProductKey;

class InstallationValuesTest : public testing::ProductKeyTest {};

TEST_F(InstallationValuesTest, ReadStepFillsTheValuesAndFlushesOnClose) {
  SettingsValues values = ReadSettingsValues(registry_, kLm);
  EXPECT_EQ(values.drive, "C:");
  EXPECT_EQ(values.inst_path, "C:\\KOVA32");
  EXPECT_EQ(values.cddir, "D:\\");
  EXPECT_EQ(values.updir, "");
  EXPECT_EQ(plan_.Calls("RegFlushKey"), 1);
  EXPECT_EQ(memory_.open_handles(), 0);
}

TEST_F(InstallationValuesTest, AKeyThatDoesNotOpenReadsEmptyAndWritesNothing) {
  memory_.RefuseAccess(RootKey::kCurrentUser, kProductKey);
  SettingsValues values = ReadSettingsValues(registry_, RootKey::kCurrentUser);
  EXPECT_EQ(values.drive, "");
  WriteSettingsValues(registry_, RootKey::kCurrentUser, ComposeNewValues("F"), "");
  EXPECT_EQ(plan_.Calls("RegSetValueExA"), 0);
  EXPECT_EQ(ReadStoredDrive(registry_, RootKey::kCurrentUser), std::nullopt);
}

TEST_F(InstallationValuesTest, WriteStepUpperCasesFourValuesAndKeepsTheRest) {
  WriteSettingsValues(registry_, kLm, ComposeNewValues("f"), "y\xe9");
  EXPECT_EQ(memory_.Get(kLm, kProductKey, "Drive"), (StoredValue{platform::kRegSz, {"F:\0", 3}}));
  EXPECT_EQ(memory_.Get(kLm, kProductKey, "InstPath")->data, std::string("F:\\KOVA32\0", 10));
  EXPECT_EQ(memory_.Get(kLm, kProductKey, "PracticeRelief")->data, std::string("Y\xe9\0", 3));
  EXPECT_EQ(memory_.Get(kLm, kProductKey, "cddir")->data, std::string("D:\\\0", 4));
  EXPECT_EQ(plan_.Calls("RegFlushKey"), 1);
  EXPECT_EQ(ReadStoredDrive(registry_, kLm), "F:");
}

TEST_F(InstallationValuesTest, ARefusedSetKeepsEarlierValuesAndStopsLaterOnes) {
  plan_.Fail("RegSetValueExA", 2, kAccessDenied);
  try {
    WriteSettingsValues(registry_, kLm, ComposeNewValues("F"), "Y");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kRegistry);
    EXPECT_EQ(error.message(), "Failed to set data for 'InstPath'");
  }
  EXPECT_EQ(memory_.Get(kLm, kProductKey, "Drive")->data, std::string("F:\0", 3));
  EXPECT_EQ(memory_.Get(kLm, kProductKey, "InstPath")->data, std::string("C:\\KOVA32\0", 10));
  EXPECT_FALSE(memory_.Get(kLm, kProductKey, "LocalDrive"));
  EXPECT_EQ(plan_.Calls("RegSetValueExA"), 2);
  // The key is still flushed and released on the way out.
  EXPECT_EQ(plan_.Calls("RegFlushKey"), 1);
  EXPECT_EQ(memory_.open_handles(), 0);
}

TEST_F(InstallationValuesTest, ADataQueryFailingAfterTheSizeQuery) {
  plan_.Fail("RegQueryValueExA(data)", 2, kFileNotFound);
  try {
    ReadSettingsValues(registry_, kLm);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.message(), "Failed to get data for 'InstPath'");
    EXPECT_EQ(error.site(), RaiseSite::kRegistryGetData);
  }
  EXPECT_EQ(memory_.open_handles(), 0);
}

TEST(ComposeNewValuesTest, NormalAndThreeCharacterRules) {
  auto check = [](const std::string& text, const std::string& drive, const std::string& inst,
                  const std::string& local) {
    NewValues values = ComposeNewValues(text);
    EXPECT_EQ(values.drive, drive) << text;
    EXPECT_EQ(values.inst_path, inst) << text;
    EXPECT_EQ(values.local_drive, local) << text;
  };
  check("F", "F:", "F:\\kova32", "F:");
  check("", ":", ":\\kova32", ":");
  check("XY", "XY:", "XY:\\kova32", "XY:");
  check("XYZ", "X:", "Y:\\kova32", "Z:");
  check("C:\\", "C:", "::\\kova32", "\\:");
  check(std::string(250, 'd'), std::string(250, 'd') + ":",
        (std::string(250, 'd') + ":\\kova32").substr(0, 255), std::string(250, 'd') + ":");
}

}  // namespace
}  // namespace vendrel
