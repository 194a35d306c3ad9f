#include "platform/posix/files/temporary_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using testing::ScratchFolder;
using testing::WriteFile;

// The folder as the file layer holds it.
UniqueFd Folder(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

TEST(TemporaryFileTest, ANameFitsWhateverTheTargetsNameIs) {
  ScratchFolder dir;
  UniqueFd folder = Folder(dir.path());
  for (std::size_t length : {1, 100, 240, 248, 255}) {
    TemporaryFile temporary;
    ASSERT_EQ(CreateTemporary(folder.get(), std::string(length, 'n'), 0600, &temporary), 0)
        << length;
    ASSERT_EQ(NameTemporary(&temporary), 0);
    const std::string name = temporary.name;
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(IsTemporaryName(name)) << name;
    EXPECT_EQ(name.substr(0, 2), ".n");
    RemoveTemporary(&temporary);
    EXPECT_FALSE(std::filesystem::exists(dir / name));
  }
}

TEST(TemporaryFileTest, OnlyTheProgramsOwnNamesAreTemporary) {
  EXPECT_TRUE(IsTemporaryName(".registry.reg.vendrel-Ab12Cd"));
  EXPECT_FALSE(IsTemporaryName("registry.reg.vendrel-Ab12Cd"));   // not hidden
  EXPECT_FALSE(IsTemporaryName(".registry.reg.vendrel-Ab12C"));   // too short
  EXPECT_FALSE(IsTemporaryName(".registry.reg.vendrel-Ab-2Cd"));  // not the alphabet
  EXPECT_FALSE(IsTemporaryName(".registry.reg.Ab12Cd"));
  EXPECT_FALSE(IsTemporaryName(".vendrel-journal.803.1f2a"));
  EXPECT_FALSE(IsTemporaryName(".registry.reg.vendrel-journal"));
}

TEST(TemporaryFileTest, DeadRunsLeftoversGoAndALiveRunsStay) {
  ScratchFolder dir;
  UniqueFd folder = Folder(dir.path());
  WriteFile(dir / ".store.reg.vendrel-Dead01", "half");
  WriteFile(dir / "store.reg.vendrel-Dead02", "a user's file, not hidden");
  // Only regular files under such names are touched: a FIFO is never opened.
  ASSERT_EQ(mkfifo((dir / ".store.reg.vendrel-Fifo01").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir / "store.reg.vendrel-Dead02",
                                  dir / ".store.reg.vendrel-Link01");
  TemporaryFile live;
  ASSERT_EQ(CreateTemporary(folder.get(), "store.reg", 0600, &live), 0);
  ASSERT_EQ(NameTemporary(&live), 0);
  ClearDeadTemporaries(folder.get());
  EXPECT_FALSE(std::filesystem::exists(dir / ".store.reg.vendrel-Dead01"));
  EXPECT_TRUE(std::filesystem::exists(dir / "store.reg.vendrel-Dead02"));
  EXPECT_TRUE(std::filesystem::exists(dir / ".store.reg.vendrel-Fifo01"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / ".store.reg.vendrel-Link01"));
  EXPECT_TRUE(std::filesystem::exists(dir / live.name));
  // A folder that cannot be listed is passed over without a word.
  ClearDeadTemporaries(-1);
}

}  // namespace
}  // namespace vendrel::platform
