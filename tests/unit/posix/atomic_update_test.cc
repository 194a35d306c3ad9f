#include "platform/posix/atomic_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "platform/error.h"
#include "platform/posix/store_registry.h"
#include "posix/test_dir.h"

namespace vendrel::platform {
namespace {

using testing::ReadFile;
using testing::TestDir;
using testing::WriteFile;

FileEdit Append(const std::string& text) {
  return [text](std::string* old) -> std::optional<std::string> {
    return (old != nullptr ? *old : std::string()) + text;
  };
}

TEST(AtomicUpdateTest, CreatesAMissingFileOnlyWhenAskedTo) {
  TestDir dir;
  std::string path = dir / "f.ini";
  EXPECT_EQ(UpdateFileAtomically(path, WhenMissing::kFail, Append("x")), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(UpdateFileAtomically(path, WhenMissing::kCreate, Append("x")), 0);
  EXPECT_EQ(ReadFile(path), "x");
  EXPECT_EQ(UpdateFileAtomically(dir / "no/such/f.ini", WhenMissing::kCreate, Append("x")), ENOENT);
}

TEST(AtomicUpdateTest, KeepsPermissionsAndLeavesNoTemporaryFile) {
  TestDir dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  chmod(path.c_str(), 0640);
  EXPECT_EQ(UpdateFileAtomically(path, WhenMissing::kFail, Append("b")), 0);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(path), "ab");
  int entries = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(AtomicUpdateTest, RefusesFilesWithoutWriteBitsAndFolders) {
  TestDir dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  chmod(path.c_str(), 0444);
  EXPECT_EQ(UpdateFileAtomically(path, WhenMissing::kFail, Append("b")), EACCES);
  EXPECT_EQ(ReadFile(path), "a");
  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(UpdateFileAtomically(dir / "folder", WhenMissing::kCreate, Append("b")), EISDIR);
}

TEST(AtomicUpdateTest, ALinkStaysALinkAndItsTargetIsReplaced) {
  TestDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteFile(dir / "real/f.ini", "a");
  std::filesystem::create_symlink("real/f.ini", dir / "link.ini");
  EXPECT_EQ(UpdateFileAtomically(dir / "link.ini", WhenMissing::kFail, Append("b")), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real/f.ini"), "ab");
  std::filesystem::create_symlink("loop2", dir / "loop1");
  std::filesystem::create_symlink("loop1", dir / "loop2");
  EXPECT_EQ(UpdateFileAtomically(dir / "loop1", WhenMissing::kCreate, Append("b")), ELOOP);
}

TEST(AtomicUpdateTest, AnEditThatThrowsOrDeclinesLeavesTheFile) {
  TestDir dir;
  std::string path = dir / "f.ini";
  WriteFile(path, "a");
  EXPECT_THROW(UpdateFileAtomically(path, WhenMissing::kFail,
                                    [](std::string*) -> std::optional<std::string> {
                                      throw std::runtime_error("bad");
                                    }),
               std::runtime_error);
  EXPECT_EQ(UpdateFileAtomically(path, WhenMissing::kFail,
                                 [](std::string*) { return std::optional<std::string>(); }),
            0);
  EXPECT_EQ(ReadFile(path), "a");
}

TEST(AtomicUpdateTest, ConcurrentWritersNeverLoseEachOthersChanges) {
  TestDir dir;
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
        if (UpdateFileAtomically(path, WhenMissing::kCreate, Append(mark)) != 0) _exit(1);
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

TEST(StoreRegistryTest, StoresThatCannotBeUsedAreReportedOrQuiet) {
  TestDir dir;
  KeyHandle key = 0;
  StoreRegistry missing(dir / "missing.reg");
  EXPECT_EQ(missing.OpenKey(RootKey::kLocalMachine, "Software\\Tarvel Global", kKeyAllAccess, &key),
            kFileNotFound);

  std::string read_only = dir / "ro.reg";
  WriteFile(read_only, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n");
  chmod(read_only.c_str(), 0444);
  EXPECT_EQ(StoreRegistry(read_only).OpenKey(RootKey::kLocalMachine, "Software\\Tarvel Global",
                                             kKeyAllAccess, &key),
            kAccessDenied);

  StoreRegistry folder(dir.path());
  try {
    folder.OpenKey(RootKey::kLocalMachine, "Software\\Tarvel Global", kKeyAllAccess, &key);
    FAIL() << "a folder opened as a store";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kRegistry);
    EXPECT_EQ(error.message(), "Registry store " + dir.path() + " is not a regular file");
  }
}

KeyHandle OpenProductKey(StoreRegistry& registry) {
  KeyHandle key = 0;
  EXPECT_EQ(
      registry.OpenKey(RootKey::kLocalMachine, "Software\\Tarvel Global", kKeyAllAccess, &key),
      kSuccess);
  return key;
}

TEST(StoreRegistryTest, AStoreThatBecameUnreadableIsNeverRewritten) {
  TestDir dir;
  std::string path = dir / "r.reg";
  WriteFile(path, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n\"A\"=\"1\"\n");
  StoreRegistry registry(path);
  KeyHandle key = OpenProductKey(registry);
  const std::string broken = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\nbroken\n";
  WriteFile(path, broken);
  const auto* data = reinterpret_cast<const std::uint8_t*>("x");
  EXPECT_THROW(registry.SetValue(key, "A", kRegSz, data, 2), Error);
  EXPECT_EQ(ReadFile(path), broken);
}

TEST(StoreRegistryTest, AKeyDeletedMeanwhileIsNotRecreated) {
  TestDir dir;
  std::string path = dir / "r.reg";
  WriteFile(path, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n");
  StoreRegistry registry(path);
  KeyHandle key = OpenProductKey(registry);
  WriteFile(path, "REGEDIT4\n");
  const auto* data = reinterpret_cast<const std::uint8_t*>("x");
  EXPECT_EQ(registry.SetValue(key, "A", kRegSz, data, 2), kKeyDeleted);
  EXPECT_EQ(ReadFile(path), "REGEDIT4\n");
}

// Found by fuzzing: a name with a line break was written as it stood, and
// the store no longer read back.
TEST(StoreRegistryTest, ANameTheFormatCannotHoldIsRefusedAndTheStoreKept) {
  TestDir dir;
  std::string path = dir / "r.reg";
  const std::string before = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n";
  WriteFile(path, before);
  StoreRegistry registry(path);
  KeyHandle key = OpenProductKey(registry);
  const auto* data = reinterpret_cast<const std::uint8_t*>("x");
  for (const std::string& name :
       {std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
    EXPECT_EQ(registry.SetValue(key, name, kRegSz, data, 2), kInvalidParameter);
  }
  EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
}  // namespace vendrel::platform
