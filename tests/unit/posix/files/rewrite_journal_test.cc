#include "platform/posix/files/rewrite_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/posix/files/unique_fd.h"
#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

constexpr const char* kAttribute = "user.vendrel.journal";

// The journal a run stopped halfway would leave, written here on its own:
// magic, device, inode, length, FNV-1a checksum, content.
std::string Journal(const struct stat& file, const std::string& content) {
  std::uint64_t fields[3] = {static_cast<std::uint64_t>(file.st_dev),
                             static_cast<std::uint64_t>(file.st_ino), content.size()};
  std::string covered;
  for (std::uint64_t field : fields) {
    for (int byte = 0; byte < 8; ++byte) covered += static_cast<char>(field >> (8 * byte));
  }
  std::uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : covered + content) hash = (hash ^ c) * 1099511628211ULL;
  std::string sum;
  for (int byte = 0; byte < 8; ++byte) sum += static_cast<char>(hash >> (8 * byte));
  return "VENDREL JOURNAL\n" + covered + sum + content;
}

class RewriteJournalTest : public ::testing::Test {
 protected:
  RewriteJournalTest() {
    WriteFile(path_, "old content, longer than the new");
    std::filesystem::create_directory(dir_ / "other");
    std::filesystem::create_hard_link(path_, dir_ / "other/second");
    stat(path_.c_str(), &file_);
    if (setxattr(path_.c_str(), "user.probe", "1", 1, 0) != 0) {
      supported_ = false;
    } else {
      removexattr(path_.c_str(), "user.probe");
    }
  }

  // Leaves a journal beside the file, recorded on it, as a stopped run does.
  std::string LeaveJournal(const std::string& bytes) {
    std::string journal = dir_ / "left.journal";
    WriteFile(journal, bytes);
    setxattr(path_.c_str(), kAttribute, journal.data(), journal.size(), 0);
    return journal;
  }

  int Complete() {
    UniqueFd fd(open(path_.c_str(), O_RDONLY));
    return CompletePendingRewrite(path_, fd.get(), file_);
  }

  bool Pending() {
    UniqueFd fd(open(path_.c_str(), O_RDONLY));
    return HasPendingRewrite(path_, fd.get(), file_);
  }

  ScratchFolder dir_;
  std::string path_ = dir_ / "settings.ini";
  struct stat file_ {};
  bool supported_ = true;
};

TEST_F(RewriteJournalTest, EveryNameSeesTheNewContentAndNothingIsLeft) {
  ASSERT_EQ(RewriteInPlace(path_, file_, "new"), 0);
  EXPECT_EQ(ReadFile(path_), "new");
  EXPECT_EQ(ReadFile(dir_ / "other/second"), "new");
  struct stat now;
  ASSERT_EQ(stat(path_.c_str(), &now), 0);
  EXPECT_EQ(now.st_ino, file_.st_ino);
  EXPECT_EQ(now.st_nlink, 2u);
  EXPECT_FALSE(Pending());
  int entries = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 2);  // the file and the other folder
}

TEST_F(RewriteJournalTest, AWholeJournalIsCompletedThroughAnyName) {
  if (!supported_) GTEST_SKIP() << "this file system keeps no user attributes";
  const std::string journal = LeaveJournal(Journal(file_, "completed"));
  WriteFile(path_, "torn cont");  // the overwrite stopped halfway
  EXPECT_TRUE(Pending());
  ASSERT_EQ(Complete(), 0);
  EXPECT_EQ(ReadFile(dir_ / "other/second"), "completed");
  EXPECT_FALSE(std::filesystem::exists(journal));
  EXPECT_FALSE(Pending());
}

TEST_F(RewriteJournalTest, AJournalCutShortIsDroppedAndTheFileKept) {
  if (!supported_) GTEST_SKIP() << "this file system keeps no user attributes";
  std::string whole = Journal(file_, "never written");
  const std::string journal = LeaveJournal(whole.substr(0, whole.size() - 3));
  ASSERT_EQ(Complete(), 0);
  EXPECT_EQ(ReadFile(path_), "old content, longer than the new");
  EXPECT_FALSE(std::filesystem::exists(journal));
  EXPECT_FALSE(Pending());
}

TEST_F(RewriteJournalTest, AnotherFilesJournalIsNeitherUsedNorRemoved) {
  if (!supported_) GTEST_SKIP() << "this file system keeps no user attributes";
  struct stat elsewhere = file_;
  elsewhere.st_ino += 1;
  const std::string journal = LeaveJournal(Journal(elsewhere, "not for this file"));
  ASSERT_EQ(Complete(), 0);
  EXPECT_EQ(ReadFile(path_), "old content, longer than the new");
  EXPECT_TRUE(std::filesystem::exists(journal));
  EXPECT_FALSE(Pending());
}

}  // namespace
}  // namespace vendrel::platform
