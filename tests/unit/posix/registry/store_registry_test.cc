#include "platform/posix/registry/store_registry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "support/result_printer.h"
#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

TEST(StoreRegistryTest, StoresThatCannotBeUsedAreReportedOrQuiet) {
  ScratchFolder dir;
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
  Result opened =
      folder.OpenKey(RootKey::kLocalMachine, "Software\\Tarvel Global", kKeyAllAccess, &key);
  EXPECT_EQ(opened, kRegistryIoFailed);
  EXPECT_EQ(opened.detail(), "Registry store " + dir.path() + " is not a regular file");
}

KeyHandle OpenProductKey(StoreRegistry& registry) {
  KeyHandle key = 0;
  EXPECT_EQ(
      registry.OpenKey(RootKey::kLocalMachine, "Software\\Tarvel Global", kKeyAllAccess, &key),
      kSuccess);
  return key;
}

TEST(StoreRegistryTest, AStoreThatBecameUnreadableIsNeverRewritten) {
  ScratchFolder dir;
  std::string path = dir / "r.reg";
  WriteFile(path, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n\"A\"=\"1\"\n");
  StoreRegistry registry(path);
  KeyHandle key = OpenProductKey(registry);
  const std::string broken = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\nbroken\n";
  WriteFile(path, broken);
  const auto* data = reinterpret_cast<const std::uint8_t*>("x");
  Result set = registry.SetValue(key, "A", kRegSz, data, 2);
  EXPECT_EQ(set, kRegistryCorrupt);
  EXPECT_EQ(set.detail(), "Registry store " + path + " cannot be read at line 3: " +
                              "a line is neither a key nor a value");
  EXPECT_EQ(ReadFile(path), broken);
}

TEST(StoreRegistryTest, AKeyDeletedMeanwhileIsNotRecreated) {
  ScratchFolder dir;
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
  ScratchFolder dir;
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

// Sets are staged: the store changes once, with all of them, at the flush
// or at the close of a key without one; the run reads what it set meanwhile.
TEST(StoreRegistryTest, SetsReachTheStoreTogetherAtTheFlushOrTheClose) {
  ScratchFolder dir;
  std::string path = dir / "r.reg";
  const std::string before = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n";
  WriteFile(path, before);
  const auto* data = reinterpret_cast<const std::uint8_t*>("x");
  for (bool flush : {true, false}) {
    StoreRegistry registry(path);
    KeyHandle key = OpenProductKey(registry);
    ASSERT_EQ(registry.SetValue(key, "A", kRegSz, data, 2), kSuccess);
    ASSERT_EQ(registry.SetValue(key, "B", kRegSz, data, 2), kSuccess);
    EXPECT_EQ(ReadFile(path), before);
    KeyHandle reopened = OpenProductKey(registry);
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    EXPECT_EQ(registry.QueryValue(reopened, "B", &type, nullptr, &size), kSuccess);
    EXPECT_EQ(registry.CloseKey(reopened), kSuccess);  // commits
    if (flush) {
      EXPECT_EQ(registry.FlushKey(key), kSuccess);
    }
    EXPECT_EQ(ReadFile(path), before + "\"A\"=\"x\"\n\"B\"=\"x\"\n");
    WriteFile(path, before);
  }
}

// A store that could not be committed is refused at the set, while it is
// as it was, not at the flush.
TEST(StoreRegistryTest, ASetBeyondTheFileSizeLimitIsRefusedAtTheSet) {
  ScratchFolder dir;
  std::string path = dir / "r.reg";
  const std::string before = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n";
  WriteFile(path, before);
  StoreRegistry registry(path);
  KeyHandle key = OpenProductKey(registry);
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const std::string big(8192, 'x');
  Result set =
      registry.SetValue(key, "A", kRegSz, reinterpret_cast<const std::uint8_t*>(big.c_str()),
                        static_cast<std::uint32_t>(big.size() + 1));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(set, kDiskFull);
  EXPECT_EQ(registry.FlushKey(key), kSuccess);
  EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
}  // namespace vendrel::platform
