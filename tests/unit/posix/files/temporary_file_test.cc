#include "platform/posix/files/temporary_file.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using testing::ScratchFolder;
using testing::WriteFile;

TEST(TemporaryFileTest, ANameFitsWhateverTheTargetsNameIs) {
  ScratchFolder dir;
  for (std::size_t length : {1, 100, 240, 248, 255}) {
    TemporaryFile temporary;
    ASSERT_EQ(CreateTemporary(dir / std::string(length, 'n'), 0600, &temporary), 0) << length;
    const std::string name = BaseNameOf(temporary.path);
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(IsTemporaryName(name)) << name;
    EXPECT_EQ(name.substr(0, 2), ".n");
    RemoveTemporary(&temporary);
    EXPECT_FALSE(std::filesystem::exists(temporary.path));
  }
}

TEST(TemporaryFileTest, OnlyTheProgramsOwnNamesAreTemporary) {
  EXPECT_TRUE(IsTemporaryName(".registry.reg.vendrel-Ab12Cd"));
  EXPECT_FALSE(IsTemporaryName("registry.reg.vendrel-Ab12Cd"));   // not hidden
  EXPECT_FALSE(IsTemporaryName(".registry.reg.vendrel-Ab12C"));   // too short
  EXPECT_FALSE(IsTemporaryName(".registry.reg.vendrel-Ab-2Cd"));  // not the alphabet
  EXPECT_FALSE(IsTemporaryName(".registry.reg.Ab12Cd"));
  EXPECT_FALSE(IsTemporaryName(".vendrel-journal.803.1f2a"));
}

TEST(TemporaryFileTest, DeadRunsLeftoversGoAndALiveRunsStay) {
  ScratchFolder dir;
  WriteFile(dir / ".store.reg.vendrel-Dead01", "half");
  WriteFile(dir / "store.reg.vendrel-Dead02", "a user's file, not hidden");
  TemporaryFile live;
  ASSERT_EQ(CreateTemporary(dir / "store.reg", 0600, &live), 0);
  ClearDeadTemporaries(dir.path());
  EXPECT_FALSE(std::filesystem::exists(dir / ".store.reg.vendrel-Dead01"));
  EXPECT_TRUE(std::filesystem::exists(dir / "store.reg.vendrel-Dead02"));
  EXPECT_TRUE(std::filesystem::exists(live.path));
  // A folder that cannot be listed is passed over without a word.
  ClearDeadTemporaries(dir / "missing");
}

}  // namespace
}  // namespace vendrel::platform
