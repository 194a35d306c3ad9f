#include "platform/posix/registry/hive/hive_registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/hive_commit.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "support/hive_maker.h"
#include "support/log_maker.h"
#include "support/result_printer.h"
#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using namespace std::string_literals;
using testing::HiveKey;
using testing::HiveLayout;
using testing::LogBase;
using testing::MakeHive;
using testing::MakeLog;
using testing::ReadFile;
using testing::Utf16Text;

constexpr const char* kKeyPath = "Software\\Tarvel Global";

std::string Word(std::size_t value) {
  std::string word(4, '\0');
  for (std::size_t b = 0; b < 4; ++b) word[b] = static_cast<char>((value >> (8 * b)) & 0xFF);
  return word;
}

std::string Field8(std::uint64_t value) { return Word(value & 0xFFFFFFFF) + Word(value >> 32); }

// The file offset of the cell of the value of that name, found by its name
// behind the 20 bytes of the value's fields.
std::size_t ValueCell(const std::string& hive, const std::string& name) {
  return hive.find(name) - 24;
}

class HiveRegistryTest : public ::testing::Test {
 protected:
  HiveRegistryTest() {
    HiveKey& product = software_.Child("Tarvel Global");
    product.values = {{"DRIVE", kRegSz, Utf16Text("C:")},
                      {"cddir", kRegExpandSz, "%\0\xAC\x20\xE9\0\0\0"s}};
    product.class_name = "ProductClass";
    software_.Child("Microsoft").values = {{"Other", kRegDword, "\x2a\0\0\0"s}};
  }

  HiveRegistry Registry(HiveRegistry::Contents contents = HiveRegistry::Contents::kSoftware) {
    return HiveRegistry(path_, contents, CodePage::Make(1252));
  }

  void Write(const HiveKey& root, const HiveLayout& layout = {}) {
    testing::WriteFile(path_, MakeHive(root, layout));
  }

  // A value's data as the key gives it, text or not.
  std::string Text(HiveRegistry& registry, KeyHandle key, const std::string& name) {
    std::uint8_t data[20000];
    std::uint32_t size = sizeof data;
    std::uint32_t type = 0;
    EXPECT_EQ(registry.QueryValue(key, name, &type, data, &size), kSuccess);
    return std::string(reinterpret_cast<char*>(data), size);
  }

  testing::ScratchFolder dir_;
  std::string path_ = dir_ / "SOFTWARE";
  HiveKey software_{"ROOT", {}, {}, {}};
};

TEST_F(HiveRegistryTest, A32BitProgramSeesWow6432NodeWhereTheHiveHasOne) {
  Write(software_);
  HiveRegistry plain = Registry();
  KeyHandle key = 0;
  ASSERT_EQ(plain.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  // Names match in any case; text comes through the code page.
  EXPECT_EQ(Text(plain, key, "drive"), "C:\0"s);
  EXPECT_EQ(Text(plain, key, "CDDIR"), "%\x80\xE9\0"s);

  HiveKey wow64{"ROOT", {}, {}, {}};
  wow64.Child("Wow6432Node").Child("Tarvel Global").values = {{"Drive", kRegSz, Utf16Text("W:")}};
  wow64.children.push_back(software_.children.front());
  Write(wow64);
  HiveRegistry redirected = Registry();
  ASSERT_EQ(redirected.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(redirected, key, "Drive"), "W:\0"s);
  EXPECT_EQ(redirected.OpenKey(RootKey::kCurrentUser, kKeyPath, kKeyAllAccess, &key),
            kFileNotFound);
}

TEST_F(HiveRegistryTest, AUsersHiveHoldsSoftwareBelowItsRoot) {
  HiveKey user{"ROOT", {}, {}, {}};
  user.Child("Software").Child("Tarvel Global").values = {{"Drive", kRegSz, Utf16Text("U:")}};
  Write(user);
  HiveRegistry registry = Registry(HiveRegistry::Contents::kUser);
  KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(RootKey::kCurrentUser, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(registry, key, "Drive"), "U:\0"s);
  EXPECT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kFileNotFound);
}

TEST_F(HiveRegistryTest, ASetKeepsTheNamesSpellingEverythingElseAndAValidHeader) {
  // A type no name stands for is a number like any other.
  software_.Child("Tarvel Global").values.push_back({"Odd", 0x00800001, "odd data"});
  Write(software_);
  HiveRegistry registry = Registry();
  KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  const std::string drive = "F:\x80";
  ASSERT_EQ(registry.SetValue(key, "Drive", kRegSz,
                              reinterpret_cast<const std::uint8_t*>(drive.c_str()), 4),
            kSuccess);
  EXPECT_EQ(Text(registry, key, "DRIVE"), "F:\x80\0"s);
  ASSERT_EQ(registry.FlushKey(key), kSuccess);
  HiveHeader header;
  EXPECT_EQ(ReadHiveHeader(ReadFile(path_), &header), HiveState::kUsable);

  HiveRegistry again = Registry();
  ASSERT_EQ(again.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(again, key, "drive"), "F:\x80\0"s);
  EXPECT_EQ(Text(again, key, "cddir"), "%\x80\xE9\0"s);
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  ASSERT_EQ(again.QueryValue(key, "Odd", &type, nullptr, &size), kSuccess);
  EXPECT_EQ(type, 0x00800001u);
  ASSERT_EQ(again.OpenKey(RootKey::kLocalMachine, "Software\\Microsoft", kKeyAllAccess, &key),
            kSuccess);
  EXPECT_EQ(Text(again, key, "Other"), "\x2a\0\0\0"s);
}

// The hive an open read stays loaded for the sets that follow; a change
// another writer made in between must not be lost by starting from it.
TEST_F(HiveRegistryTest, ASetAfterAnotherWritersChangeKeepsThatChange) {
  Write(software_);
  HiveRegistry first = Registry();
  HiveRegistry second = Registry();
  KeyHandle first_key = 0;
  KeyHandle second_key = 0;
  ASSERT_EQ(first.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &first_key), kSuccess);
  ASSERT_EQ(second.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &second_key), kSuccess);
  const std::string others = "G:";
  ASSERT_EQ(second.SetValue(second_key, "InstPath", kRegSz,
                            reinterpret_cast<const std::uint8_t*>(others.c_str()), 3),
            kSuccess);
  ASSERT_EQ(second.FlushKey(second_key), kSuccess);
  const std::string mine = "F:";
  ASSERT_EQ(first.SetValue(first_key, "Drive", kRegSz,
                           reinterpret_cast<const std::uint8_t*>(mine.c_str()), 3),
            kSuccess);
  ASSERT_EQ(first.CloseKey(first_key), kSuccess);

  HiveRegistry later = Registry();
  KeyHandle key = 0;
  ASSERT_EQ(later.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(later, key, "Drive"), "F:\0"s);
  EXPECT_EQ(Text(later, key, "InstPath"), "G:\0"s);
}

// Sets are staged: the file changes once, at the flush, with all of them;
// until then the run itself reads what it set, and other runs the file as
// it was (they wait for the lock the staging run holds).
TEST_F(HiveRegistryTest, SetsReachTheFileTogetherAtTheFlush) {
  Write(software_);
  const std::string before = ReadFile(path_);
  HiveRegistry registry = Registry();
  KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  for (const char* name : {"Drive", "InstPath"}) {
    ASSERT_EQ(registry.SetValue(key, name, kRegSz, reinterpret_cast<const std::uint8_t*>("F:"), 3),
              kSuccess);
  }
  EXPECT_EQ(ReadFile(path_), before);
  KeyHandle reopened = 0;
  ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &reopened), kSuccess);
  EXPECT_EQ(Text(registry, reopened, "InstPath"), "F:\0"s);
  ASSERT_EQ(registry.FlushKey(key), kSuccess);
  EXPECT_NE(ReadFile(path_), before);

  HiveRegistry later = Registry();
  ASSERT_EQ(later.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(later, key, "Drive"), "F:\0"s);
  EXPECT_EQ(Text(later, key, "InstPath"), "F:\0"s);
}

// Room for the commit is held at the set: a hive that could not grow past
// the file-size limit is refused there, and the flush has nothing to lose.
TEST_F(HiveRegistryTest, ASetBeyondTheFileSizeLimitIsRefusedAtTheSet) {
  Write(software_);
  const std::string before = ReadFile(path_);
  HiveRegistry registry = Registry();
  KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = before.size();
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  Result set =
      registry.SetValue(key, "Drive", kRegSz, reinterpret_cast<const std::uint8_t*>("F:"), 3);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(set, kDiskFull);
  EXPECT_EQ(registry.FlushKey(key), kSuccess);
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_EQ(Text(registry, key, "Drive"), "C:\0"s);
}

TEST_F(HiveRegistryTest, HivesThatMustNotBeTouchedAreRefusedAndLeft) {
  HiveLayout dirty;
  dirty.secondary_sequence = dirty.primary_sequence - 1;
  Write(software_, dirty);
  const std::string before = ReadFile(path_);
  HiveRegistry registry = Registry();
  KeyHandle key = 0;
  Result opened = registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key);
  EXPECT_EQ(opened, kRegistryIoFailed);
  EXPECT_NE(opened.detail().find(path_ + " holds changes that Windows has not yet merged"),
            std::string::npos)
      << opened.detail();
  EXPECT_NE(opened.detail().find("shut it down fully"), std::string::npos);
  EXPECT_EQ(ReadFile(path_), before);

  testing::WriteFile(path_, std::string(9000, 'x'));
  EXPECT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key),
            kRegistryCorrupt);
  EXPECT_EQ(ReadFile(path_), std::string(9000, 'x'));

  // Bins the header gives wrongly are never read or added to.
  const std::string made = MakeHive(software_);
  for (const auto& [bins, why] : {std::pair(made.size(), "and the file holds fewer"),
                                  std::pair(std::size_t{2048}, "which no hive holds")}) {
    std::string hive = made;
    hive.replace(40, 4, Word(bins));
    HiveHeader header;
    ReadHiveHeader(hive, &header);
    PutChecksum(&hive, WindowsChecksum(header.plain_xor));
    testing::WriteFile(path_, hive);
    opened = registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key);
    EXPECT_EQ(opened, kRegistryCorrupt);
    EXPECT_NE(opened.detail().find(why), std::string::npos) << opened.detail();
    EXPECT_EQ(ReadFile(path_), hive);
  }
}

TEST_F(HiveRegistryTest, AMissingKeyIsQuietAndAReadOnlyHiveRefusesAccess) {
  Write(HiveKey{"ROOT", {}, {}, {}});
  HiveRegistry registry = Registry();
  KeyHandle key = 0;
  EXPECT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kFileNotFound);
  Write(software_);
  chmod(path_.c_str(), 0444);
  EXPECT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kAccessDenied);
}

// Windows stores 1 where the XOR of the base block is 0; hivex takes that
// for a damaged header. Such a hive is read and written all the same, and
// what is written carries the checksum Windows expects.
TEST_F(HiveRegistryTest, AHiveWhoseChecksumWindowsStoresAsOneIsReadAndWritten) {
  std::string hive = MakeHive(software_);
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 508; at += 4) {
    std::uint32_t word = 0;
    for (int b = 3; b >= 0; --b) word = (word << 8) | static_cast<unsigned char>(hive[at + b]);
    sum ^= word;
  }
  for (int b = 0; b < 4; ++b) {
    hive[400 + b] = static_cast<char>((sum >> (8 * b)) & 0xFF);
    hive[508 + b] = static_cast<char>(b == 0 ? 1 : 0);
  }
  testing::WriteFile(path_, hive);
  HiveHeader header;
  ASSERT_EQ(ReadHiveHeader(hive, &header), HiveState::kUsable);
  ASSERT_EQ(header.plain_xor, 0u);

  HiveRegistry registry = Registry();
  KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(registry, key, "Drive"), "C:\0"s);
  ASSERT_EQ(registry.SetValue(key, "Drive", kRegSz, reinterpret_cast<const std::uint8_t*>("F:"), 3),
            kSuccess);
  EXPECT_EQ(ReadHiveHeader(ReadFile(path_), &header), HiveState::kUsable);
}

// A long value beside the ones set is read (as big data from version 1.4
// on) and left where it is; data that would need big data is not set.
TEST_F(HiveRegistryTest, ALongValueIsReadAndLeftAsItIs) {
  const std::string long_data(20000, 'L');
  software_.Child("Tarvel Global").values.push_back({"Long", kRegBinary, long_data});
  for (std::uint32_t minor : {5u, 3u}) {
    HiveLayout layout;
    layout.minor_version = minor;
    Write(software_, layout);
    HiveRegistry registry = Registry();
    KeyHandle key = 0;
    ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
    ASSERT_EQ(
        registry.SetValue(key, "Drive", kRegSz, reinterpret_cast<const std::uint8_t*>("F:"), 3),
        kSuccess);
    const std::string longer(16345, 'x');
    Result set = registry.SetValue(key, "Long", kRegBinary,
                                   reinterpret_cast<const std::uint8_t*>(longer.data()), 16345);
    EXPECT_EQ(set, minor == 5 ? 1013u : kSuccess) << set.detail();
    ASSERT_EQ(registry.FlushKey(key), kSuccess);
    HiveRegistry again = Registry();
    ASSERT_EQ(again.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
    EXPECT_EQ(Text(again, key, "Long"), minor == 5 ? long_data : longer);
    EXPECT_EQ(Text(again, key, "Drive"), "F:\0"s);
  }
}

// Windows never writes two names equal but for case into one key: which of
// them a read or a write meant could not be told, so the key is damaged.
TEST_F(HiveRegistryTest, NamesThatCannotBeToldApartMakeTheKeyDamaged) {
  struct Row {
    std::vector<std::string> names;  // Latin-1, as stored
    int code_page;
  };
  for (const Row& row : {Row{{"Drive", "InstPath", "DRIVE"}, 1252},
                         Row{{"Drive", "\xC4rger", "\xE4rger"}, 1252},     // as Windows folds case
                         Row{{"Drive", "Wert\xE9", "Wert\xE8"}, 1251}}) {  // both "Wert?" in 1251
    HiveKey& product = software_.Child("Tarvel Global");
    product.values.clear();
    for (const std::string& name : row.names)
      product.values.push_back({name, kRegSz, Utf16Text("C:")});
    Write(software_);
    const std::string before = ReadFile(path_);
    HiveRegistry registry(path_, HiveRegistry::Contents::kSoftware, CodePage::Make(row.code_page));
    KeyHandle key = 0;
    Result opened = registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key);
    EXPECT_EQ(opened, kRegistryCorrupt) << row.names[2];
    EXPECT_NE(opened.detail().find(path_ + " is damaged: the key Software\\Tarvel Global"),
              std::string::npos)
        << opened.detail();
    EXPECT_NE(opened.detail().find("whose names a program cannot tell apart"), std::string::npos);
    EXPECT_EQ(ReadFile(path_), before);
  }
}

// Most changes are written where the values are: the other values' cells
// stay in use where they were, and the file grows by one bin at most. What
// the file cannot take that way goes through hivex, which writes every
// value of the key anew. Either way a fresh read finds every value.
TEST_F(HiveRegistryTest, ChangesAreWrittenInPlaceWhereTheFileCanTakeThem) {
  struct Row {
    const char* what;
    const char* name;
    std::string data;
    std::size_t growth;  // npos: whatever hivex takes
    bool in_place;
    std::size_t padding = 0;  // zeros behind the last bin
  };
  const std::string longer = "F:\\a path longer than the cell of the old one";
  const Row rows[] = {
      {"data of the same length", "Drive", "F:", 0, true},
      {"data short enough to be held in the value", "Drive", "", 0, true},
      {"data longer than its cell", "Drive", longer, 4096, true},
      {"a value the key does not hold", "LocalDrive", "F:", 4096, true},
      {"a name that is not ASCII", "Lecteur\xE9", "F:", 4096, true},
      {"bins that end before the file does", "Drive", "F:\\longer", 0, true, 4096},
  };
  for (const Row& row : rows) {
    testing::WriteFile(path_, MakeHive(software_) + std::string(row.padding, '\0'));
    const std::string before = ReadFile(path_);
    const std::size_t kept = ValueCell(before, "cddir");
    HiveRegistry registry = Registry();
    KeyHandle key = 0;
    ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
    ASSERT_EQ(registry.SetValue(key, row.name, kRegSz,
                                reinterpret_cast<const std::uint8_t*>(row.data.c_str()),
                                static_cast<std::uint32_t>(row.data.size() + 1)),
              kSuccess);
    ASSERT_EQ(registry.FlushKey(key), kSuccess) << row.what;
    const std::string after = ReadFile(path_);
    if (row.growth != std::string::npos) {
      EXPECT_EQ(after.size() - before.size(), row.growth) << row.what;
    }
    // A used cell gives its size as a negative number.
    EXPECT_EQ(after[kept + 3] < 0, row.in_place) << row.what;
    HiveHeader header;
    EXPECT_EQ(ReadHiveHeader(after, &header), HiveState::kUsable) << row.what;

    HiveRegistry again = Registry();
    ASSERT_EQ(again.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
    EXPECT_EQ(Text(again, key, row.name), row.data + '\0') << row.what;
    EXPECT_EQ(Text(again, key, "cddir"), "%\x80\xE9\0"s) << row.what;
    if (std::string(row.name) != "Drive") {
      EXPECT_EQ(Text(again, key, "Drive"), "C:\0"s) << row.what;
    }
  }
}

// hivex frees each cell of the key's values before writing them anew, and
// aborts the process on a cell it has freed already.
TEST_F(HiveRegistryTest, AChangeThatWouldFreeACellTwiceIsRefusedAndTheHiveLeft) {
  struct Row {
    const char* damage;
    void (*patch)(std::string& hive);
    const char* why;
  };
  constexpr std::size_t kData = 12;  // where a value cell keeps its data cell
  const Row rows[] = {
      {"two values share a data cell",
       [](std::string& hive) {
         hive.replace(ValueCell(hive, "cddir") + kData, 4,
                      hive.substr(ValueCell(hive, "DRIVE") + kData, 4));
       },
       "two of its data cells are one cell"},
      {"a value's data is the value list",
       [](std::string& hive) {
         const std::string list = Word(ValueCell(hive, "DRIVE") - kHiveBaseBlock) +
                                  Word(ValueCell(hive, "cddir") - kHiveBaseBlock);
         hive.replace(ValueCell(hive, "cddir") + kData, 4,
                      Word(hive.find(list) - 4 - kHiveBaseBlock));
       },
       "its value list and a data cell are one cell"},
      {"a value's data lies past the end of the file",
       [](std::string& hive) { hive.replace(ValueCell(hive, "cddir") + kData, 4, Word(1u << 30)); },
       "lies outside the hive bins"},
      {"a value's data is a cell planted inside another (its class name)",
       [](std::string& hive) {
         const std::size_t inner = hive.find("P\0r\0o\0d\0u\0c\0t\0C\0l\0a\0s\0s\0"s) + 4;
         hive.replace(inner, 4, Word(0xFFFFFFF0));
         hive.replace(ValueCell(hive, "DRIVE") + kData, 4, Word(inner - kHiveBaseBlock));
       },
       "lies inside another cell"},
      {"a value's data is the subkey list that leads to the key",
       [](std::string& hive) {
         const std::size_t key = hive.find("Tarvel Global") - 0x50;
         std::size_t list = hive.find(Word(key - kHiveBaseBlock));
         while (hive.compare(list, 1, "l") != 0) list -= 4;
         hive.replace(ValueCell(hive, "DRIVE") + kData, 4, Word(list - 4 - kHiveBaseBlock));
       },
       "is a subkey list on the way to it"},
      {"a value's data is the cell of a key beside the way",
       [](std::string& hive) {
         hive.replace(ValueCell(hive, "DRIVE") + kData, 4,
                      Word(hive.find("Microsoft") - 0x50 - kHiveBaseBlock));
       },
       "is the cell of a key listed on the way to it"},
      {"a value's data is the key's class name",
       [](std::string& hive) {
         hive.replace(ValueCell(hive, "DRIVE") + kData, 4,
                      Word(hive.find("P\0r\0o\0d\0u\0c\0t\0C\0"s) - 4 - kHiveBaseBlock));
       },
       "is the security or class name cell of a key on the way to it"},
  };
  for (const Row& row : rows) {
    std::string hive = MakeHive(software_);
    row.patch(hive);
    testing::WriteFile(path_, hive);
    HiveRegistry registry = Registry();
    KeyHandle key = 0;
    Result result = registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key);
    if (result.ok()) {
      result =
          registry.SetValue(key, "Drive", kRegSz, reinterpret_cast<const std::uint8_t*>("F:"), 3);
    }
    if (result.ok()) result = registry.FlushKey(key);
    EXPECT_EQ(result, kRegistryCorrupt) << row.damage;
    EXPECT_NE(result.detail().find(row.why), std::string::npos) << result.detail();
    EXPECT_EQ(ReadFile(path_), hive) << row.damage;
  }
}

// A change goes first to the log Windows on that disk would write next, in
// the format it reads (its file type); the other files stay as they were,
// the hive ends clean past the entry. A log of two names is never written.
TEST_F(HiveRegistryTest, AChangeGoesThroughTheLogWindowsWouldWriteNext) {
  struct Row {
    const char* build;                // CurrentBuildNumber, or none
    std::map<std::string, int> logs;  // each log's base sequence (0: old format; -1: linked)
    const char* written;              // the log that takes the entry, or the refusal
    char format;
    std::uint32_t sequence = 7;  // the hive's
  };
  const Row rows[] = {
      {nullptr, {}, "SOFTWARE.LOG1", 1},
      {"19045", {}, "SOFTWARE.LOG1", 6},
      {"2600", {}, "SOFTWARE.LOG", 1},
      {nullptr, {{"SOFTWARE.LOG1", 3}, {"software.log2", 5}}, "SOFTWARE.LOG1", 6},
      {"19045", {{"SOFTWARE.LOG1", 5}, {"SOFTWARE.LOG2", 3}}, "SOFTWARE.LOG2", 6},
      {"7601", {{"SOFTWARE.LOG1", 5}, {"SOFTWARE.LOG2", 3}}, "SOFTWARE.LOG1", 1},
      {"19045", {{"SOFTWARE.LOG2", 0}, {"SOFTWARE.LOG1", 0}}, "SOFTWARE.LOG1", 1},
      {nullptr, {{"SOFTWARE.LOG", 0}}, "SOFTWARE.LOG", 1},
      {nullptr, {{"SOFTWARE.LOG1", -1}}, "more than one name", 0},
      {nullptr, {}, "SOFTWARE.LOG1", 1, 0xFFFFFFFB},
      {nullptr, {}, "the end of the numbers", 0, 0xFFFFFFFC},
  };
  for (const Row& row : rows) {
    testing::ScratchFolder dir;
    path_ = dir / "SOFTWARE";
    HiveKey root = software_;
    if (row.build != nullptr) {
      root.Child("Microsoft").Child("Windows NT").Child("CurrentVersion").values = {
          {"CurrentBuildNumber", kRegSz, Utf16Text(row.build)}};
    }
    HiveLayout layout;
    layout.primary_sequence = layout.secondary_sequence = row.sequence;
    Write(root, layout);
    std::map<std::string, std::string> before{{"SOFTWARE", ReadFile(path_)}};
    for (const auto& [name, sequence] : row.logs) {
      LogBase base;
      base.sequence = static_cast<std::uint32_t>(sequence < 0 ? -sequence : sequence);
      base.file_type = sequence == 0 ? 1 : 6;
      testing::WriteFile(dir / name, before[name] = MakeLog(base, {}));
      if (sequence < 0) link((dir / name).c_str(), (dir / "x").c_str());
    }
    HiveRegistry registry = Registry();
    KeyHandle key = 0;
    ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
    ASSERT_EQ(registry.SetValue(key, "Drive", kRegSz, reinterpret_cast<const std::uint8_t*>(""), 1),
              kSuccess);
    const Result flushed = registry.FlushKey(key);
    for (const auto& [name, content] : before) {
      const bool written = row.format != 0 && (name == "SOFTWARE" || name == row.written);
      EXPECT_EQ(ReadFile(dir / name) != content, written) << row.written << ": " << name;
    }
    if (row.format == 0) {
      EXPECT_NE(flushed.detail().find(row.written), std::string::npos) << flushed.detail();
      continue;
    }
    ASSERT_EQ(flushed, kSuccess) << row.written << ": " << flushed.detail();
    const std::string log = ReadFile(dir / row.written);
    HiveHeader header;
    ASSERT_EQ(ReadHiveHeader(ReadFile(path_), &header), HiveState::kUsable) << row.written;
    EXPECT_EQ(log[28], row.format) << row.written;
    EXPECT_EQ(header.primary_sequence, Field(log, 4, 4) + 1) << row.written;
  }
}

// The product key is found through subkey lists of every kind Windows
// writes, its name in any letter case and stored either way, and its
// values read, big data included, then changed.
TEST_F(HiveRegistryTest, TheKeyIsFoundThroughEveryShapeOfHive) {
  struct Row {
    std::string list;
    std::size_t leaf;
    bool wide;
    std::uint32_t minor;
  };
  const std::string big(20000, 'B');
  for (const char* sibling : {"A", "B", "C", "Vendor"}) software_.Child(sibling);
  software_.Child("Tarvel Global").values.push_back({"Big", kRegBinary, big});
  for (const Row& row : {Row{"lf", 0, false, 3}, Row{"", 0, false, 5}, Row{"li", 0, false, 5},
                         Row{"lh", 2, false, 5}, Row{"li", 4, false, 5}, Row{"", 0, true, 5}}) {
    HiveLayout layout;
    layout.subkey_list = row.list;
    layout.leaf_size = row.leaf;
    layout.wide_names = row.wide;
    layout.minor_version = row.minor;
    Write(software_, layout);
    SCOPED_TRACE(row.list + " " + std::to_string(row.leaf) + (row.wide ? " wide" : ""));
    HiveRegistry registry = Registry();
    KeyHandle key = 0;
    ASSERT_EQ(
        registry.OpenKey(RootKey::kLocalMachine, "SOFTWARE\\tarvel GLOBAL", kKeyAllAccess, &key),
        kSuccess);
    EXPECT_EQ(Text(registry, key, "big"), big);
    ASSERT_EQ(
        registry.SetValue(key, "Drive", kRegSz, reinterpret_cast<const std::uint8_t*>("F:"), 3),
        kSuccess);
    ASSERT_EQ(registry.FlushKey(key), kSuccess);
    HiveRegistry again = Registry();
    ASSERT_EQ(again.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
    EXPECT_EQ(Text(again, key, "Drive"), "F:\0"s);
  }
}

// A hive whose cells on the key's path do not hold is refused as damaged,
// saying what is wrong, and left as it was.
TEST_F(HiveRegistryTest, AHiveWhoseCellsDoNotHoldIsRefused) {
  HiveLayout layout;
  layout.leaf_size = 1;  // an ri of one-key leaves at the root
  software_.Child("Tarvel Global").values.push_back({"Big", kRegBinary, std::string(20000, 'B')});
  const std::string made = MakeHive(software_, layout);
  const std::size_t key = made.find("Tarvel Global") - 80;
  const std::size_t root_list = made.find("ri\x02\0");
  const std::pair<std::function<void(std::string&)>, const char*> rows[] = {
      {[&](std::string& h) { h.replace(made.find("lh\x01\0"), 2, "ri"); },
       "no kind Windows writes"},
      {[&](std::string& h) { h.replace(root_list + 2, 2, "\xFF\x7F"); }, "counts more entries"},
      {[&](std::string& h) { h.replace(key, 4, Word(0xFFFF0000)); }, "runs past its hive bin"},
      {[&](std::string& h) { h.replace(key + 44, 4, Word(1u << 30)); }, "outside the hive bins"},
      {[&](std::string& h) { h.replace(ValueCell(made, "Big") + 8, 4, Word(1u << 30)); },
       "a length no hive holds"},
      {[&](std::string& h) {
         const std::string drive = Word(ValueCell(made, "DRIVE") - kHiveBaseBlock);
         h.replace(made.find(drive + Word(ValueCell(made, "cddir") - kHiveBaseBlock)) + 4, 4,
                   drive);
       },
       "names the value at"},
  };
  for (const auto& [patch, why] : rows) {
    std::string hive = made;
    patch(hive);
    testing::WriteFile(path_, hive);
    HiveRegistry registry = Registry();
    KeyHandle opened = 0;
    Result result = registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &opened);
    EXPECT_EQ(result, kRegistryCorrupt) << why;
    EXPECT_NE(result.detail().find(why), std::string::npos) << result.detail();
    EXPECT_EQ(ReadFile(path_), hive);
  }
}

// A change an earlier version left in a journal beside the hive, not yet
// in the hive, is read as the hive's and goes in with the next change,
// through the log; the journal then goes.
TEST_F(HiveRegistryTest, AnEarlierVersionsJournalGoesInThroughTheLog) {
  Write(software_);
  software_.Child("Tarvel Global").values[0].data = Utf16Text("Z:");
  const std::string pending = MakeHive(software_), journal = dir_ / ".SOFTWARE.vendrel-journal";
  struct stat file {};
  stat(path_.c_str(), &file);
  const std::string covered = Field8(file.st_ino) + Field8(pending.size()), name = "SOFTWARE";
  std::uint64_t hash = 14695981039346656037ULL;
  for (const std::string* part : {&covered, &name, &pending}) {
    for (unsigned char c : *part) hash = (hash ^ c) * 1099511628211ULL;
  }
  std::string bytes = "VENDREL JOURNAL2";
  for (const std::string& part : {covered, Field8(hash), Word(8), name, pending}) bytes += part;
  testing::WriteFile(journal, bytes);
  chmod(journal.c_str(), 0600);
  HiveRegistry registry = Registry();
  KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(registry, key, "Drive"), "Z:\0"s);
  ASSERT_EQ(registry.SetValue(key, "Odd", kRegSz, reinterpret_cast<const std::uint8_t*>("F:"), 3),
            kSuccess);
  ASSERT_EQ(registry.FlushKey(key), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(journal));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "SOFTWARE.LOG1"));
  HiveRegistry again = Registry();
  ASSERT_EQ(again.OpenKey(RootKey::kLocalMachine, kKeyPath, kKeyAllAccess, &key), kSuccess);
  EXPECT_EQ(Text(again, key, "Drive"), "Z:\0"s);
  EXPECT_EQ(Text(again, key, "Odd"), "F:\0"s);
}

// A change that would make the hive larger than this program reads is
// refused before anything is written.
TEST_F(HiveRegistryTest, AChangePastTheLargestHiveIsRefusedBeforeAnyWrite) {
  Write(software_);
  const std::string before = ReadFile(path_);
  PlacedFile placed;
  ASSERT_EQ(PlaceTrusted(path_, &placed), 0);
  ChangedPages changed{"", (std::uint64_t{1} << 30) + 4096};
  const UniqueFd fd(open(path_.c_str(), O_RDWR | O_CLOEXEC));
  const HivePages pages(fd.get(), before.size());
  EXPECT_NE(CommitThroughLog({&placed, fd.get(), {}, &pages}, changed).refusal.find("1024 MiB"),
            std::string::npos);
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "SOFTWARE.LOG1"));
}

}  // namespace
}  // namespace vendrel::platform
