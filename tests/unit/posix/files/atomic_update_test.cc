#include "platform/posix/files/atomic_update.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>

#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

constexpr std::size_t kCap = 1 << 20;

// Updates the file at a path given as the operator gives one.
int Update(const std::string& path, WhenMissing when_missing, const FileEdit& edit,
           std::size_t cap = kCap) {
  PlacedFile placed;
  if (int error = PlaceTrusted(path, &placed); error != 0) return error;
  return UpdateFileAtomically(placed, when_missing, cap, edit);
}

// An edit that appends text; made fresh for each update, as it keeps the
// content it hands back.
FileEdit Append(const std::string& text) {
  auto content = std::make_shared<std::string>();
  return [text, content](std::string* old) -> const std::string* {
    *content = (old != nullptr ? *old : std::string()) + text;
    return content.get();
  };
}

TEST(AtomicUpdateTest, CreatesAMissingFileOnlyWhenAskedTo) {
  ScratchFolder dir;
  std::string path = dir / "f.ini";
  EXPECT_EQ(Update(path, WhenMissing::kFail, Append("x")), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Update(path, WhenMissing::kCreate, Append("x")), 0);
  EXPECT_EQ(ReadFile(path), "x");
  EXPECT_EQ(Update(dir / "no/such/f.ini", WhenMissing::kCreate, Append("x")), ENOENT);
}

TEST(AtomicUpdateTest, KeepsPermissionsAndLeavesNoTemporaryFile) {
  ScratchFolder dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  chmod(path.c_str(), 0640);
  EXPECT_EQ(Update(path, WhenMissing::kFail, Append("b")), 0);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(path), "ab");
  int entries = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(AtomicUpdateTest, RefusesFilesWithoutWriteBitsAndFolders) {
  ScratchFolder dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  chmod(path.c_str(), 0444);
  EXPECT_EQ(Update(path, WhenMissing::kFail, Append("b")), EACCES);
  EXPECT_EQ(ReadFile(path), "a");
  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(Update(dir / "folder", WhenMissing::kCreate, Append("b")), EISDIR);
}

TEST(AtomicUpdateTest, ALinkStaysALinkAndItsTargetIsReplaced) {
  ScratchFolder dir;
  std::filesystem::create_directory(dir / "real");
  WriteFile(dir / "real/f.ini", "a");
  std::filesystem::create_symlink("real/f.ini", dir / "link.ini");
  EXPECT_EQ(Update(dir / "link.ini", WhenMissing::kFail, Append("b")), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real/f.ini"), "ab");
  std::filesystem::create_symlink("loop2", dir / "loop1");
  std::filesystem::create_symlink("loop1", dir / "loop2");
  EXPECT_EQ(Update(dir / "loop1", WhenMissing::kCreate, Append("b")), ELOOP);
}

TEST(AtomicUpdateTest, AFileWithSeveralNamesStaysOneFile) {
  ScratchFolder dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  std::filesystem::create_hard_link(path, dir / "g.ini");
  EXPECT_EQ(Update(path, WhenMissing::kFail, Append("b")), 0);
  EXPECT_EQ(ReadFile(dir / "g.ini"), "ab");
  EXPECT_EQ(std::filesystem::hard_link_count(path), 2u);
}

TEST(AtomicUpdateTest, AnEditThatThrowsOrDeclinesLeavesTheFile) {
  ScratchFolder dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  EXPECT_THROW(Update(path, WhenMissing::kFail,
                      [](std::string*) -> const std::string* { throw std::runtime_error("bad"); }),
               std::runtime_error);
  EXPECT_EQ(
      Update(path, WhenMissing::kFail, [](std::string*) -> const std::string* { return nullptr; }),
      0);
  EXPECT_EQ(ReadFile(path), "a");
}

// What stands in the way of an update, and the answer it gets; the file is
// left as it was in every case.
TEST(AtomicUpdateTest, RefusesWhatItMustNotTouch) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> arrange;
    int expected;
    std::size_t cap;
  };
  const Case cases[] = {
      {"a journal's name taken by another's file",
       [](const std::string& path) {
         std::filesystem::create_hard_link(path, path + ".other");
         WriteFile(std::filesystem::path(path).parent_path() / ".f.ini.vendrel-journal", "mine");
       },
       EBUSY, kCap},
      {"a journal's name taken by a FIFO",
       [](const std::string& path) {
         std::filesystem::create_hard_link(path, path + ".other");
         std::string fifo = std::filesystem::path(path).parent_path() / ".f.ini.vendrel-journal";
         mkfifo(fifo.c_str(), 0600);
       },
       EBUSY, kCap},
      {"a file larger than its kind's cap", [](const std::string&) {}, EOVERFLOW, 0},
      {"a FIFO in the file's place",
       [](const std::string& path) {
         std::filesystem::remove(path);
         mkfifo(path.c_str(), 0600);
       },
       ENODEV, kCap},
  };
  for (const Case& c : cases) {
    ScratchFolder dir;
    std::string path = dir / "f.ini";
    WriteFile(path, "a");
    c.arrange(path);
    EXPECT_EQ(Update(path, WhenMissing::kCreate, Append("b"), c.cap), c.expected) << c.what;
    if (std::filesystem::is_regular_file(path)) {
      EXPECT_EQ(ReadFile(path), "a") << c.what;
    }
  }
}

TEST(AtomicUpdateTest, GivesUpOnALockHeldTooLong) {
  ScratchFolder dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  UniqueFd holder(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(flock(holder.get(), LOCK_SH), 0);
  EXPECT_EQ(Update(path, WhenMissing::kFail, Append("b")), EAGAIN);
  EXPECT_EQ(ReadFile(path), "a");
}

TEST(AtomicUpdateTest, ConcurrentWritersNeverLoseEachOthersChanges) {
  ScratchFolder dir;
  std::string path = dir / "f.txt";
  constexpr int kWriters = 8;
  constexpr int kRounds = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int r = 0; r < kRounds; ++r) {
        std::string mark(1, static_cast<char>('a' + w));
        if (Update(path, WhenMissing::kCreate, Append(mark)) != 0) _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string content = ReadFile(path);
  ASSERT_EQ(content.size(), static_cast<std::size_t>(kWriters * kRounds));
  for (int w = 0; w < kWriters; ++w) {
    EXPECT_EQ(std::count(content.begin(), content.end(), 'a' + w), kRounds);
  }
}

}  // namespace
}  // namespace vendrel::platform
