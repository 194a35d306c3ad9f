// An offline hive, whatever its bytes: the product key is opened, its
// values read, and one of them set, through the log it makes beside it. Each step either succeeds
// or is refused with a code, never ends the process; a refused step leaves the file as it was, and
// a value set reads back from the file, as does every other value.
//
// An input is one byte of choices followed by the hive file. Unless the
// choices say otherwise, the base block's checksum is mended first, so that
// most changes the fuzzer makes reach the cells.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "base/text.h"
#include "fuzz_check.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_registry.h"

namespace {

using vendrel::Result;
using vendrel::platform::CodePage;
using vendrel::platform::HiveHeader;
using vendrel::platform::HiveRegistry;
using vendrel::platform::HiveState;
using vendrel::platform::KeyHandle;
using vendrel::platform::RootKey;

constexpr std::uint8_t kKeepChecksum = 1;
constexpr std::uint8_t kUsersHive = 2;
constexpr int kNameShift = 2;  // two bits: which name is set
constexpr int kDataShift = 4;  // two bits: what it is set to

constexpr const char* kKeyPath = "Software\\Tarvel Global";
constexpr const char* kNames[] = {"Drive", "DRIVE", "Fresh", ""};
constexpr const char* kOtherNames[] = {"Drive", "InstPath", "cddir", "Count", "Fresh", ""};

struct Data {
  std::uint32_t type;
  std::string bytes;
};

std::string g_folder;
std::string g_path;

// The hive and the log a commit made beside it.
void RemoveFiles() {
  for (const char* suffix : {"", ".LOG1", ".LOG"}) unlink((g_path + suffix).c_str());
}

void RemoveFolder() {
  RemoveFiles();
  rmdir(g_folder.c_str());
}

Data DataToSet(int choice) {
  switch (choice) {
    case 0:
      return {vendrel::platform::kRegSz, std::string("F:") + '\0'};
    case 1:
      return {vendrel::platform::kRegDword, std::string("\x2a\0\0\0", 4)};
    case 2:
      return {vendrel::platform::kRegBinary, std::string(5000, '\xB7')};
    default:
      return {vendrel::platform::kRegSz, std::string(300, 'x') + '\0'};
  }
}

std::string ReadFile() {
  std::ifstream in(g_path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What a query of the value of that name answers: nothing when it is
// missing.
std::optional<Data> Query(HiveRegistry& registry, KeyHandle key, const std::string& name) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  Result sized = registry.QueryValue(key, name, &type, nullptr, &size);
  if (sized == vendrel::kFileNotFound) return std::nullopt;
  FUZZ_CHECK(sized.ok());
  std::string bytes(size, '\0');
  FUZZ_CHECK(
      registry.QueryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(bytes.data()), &size)
          .ok());
  bytes.resize(size);
  return Data{type, bytes};
}

bool Same(const std::optional<Data>& a, const std::optional<Data>& b) {
  if (!a || !b) return !a && !b;
  return a->type == b->type && a->bytes == b->bytes;
}

// A refusal: a code, and for a damaged or unreadable hive, a report.
void CheckRefusal(const Result& result) {
  FUZZ_CHECK(!result.ok());
  if (result.code() == vendrel::kRegistryCorrupt || result.code() == vendrel::kRegistryIoFailed) {
    FUZZ_CHECK(result.detail().rfind("Registry hive " + g_path + " ", 0) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A file system in memory where there is one: every set syncs the file.
  char pattern[] = "/dev/shm/vendrel-hive-fuzz-XXXXXX";
  char fallback[] = "/tmp/vendrel-hive-fuzz-XXXXXX";
  const char* folder = mkdtemp(pattern);
  if (folder == nullptr) folder = mkdtemp(fallback);
  FUZZ_CHECK(folder != nullptr);
  g_folder = folder;
  g_path = g_folder + "/SOFTWARE";
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t choices = data[0];
  std::string hive(reinterpret_cast<const char*>(data) + 1, size - 1);
  RemoveFiles();  // each input on a hive of its own
  HiveHeader header;
  if ((choices & kKeepChecksum) == 0 && ReadHiveHeader(hive, &header) == HiveState::kBadChecksum) {
    vendrel::platform::PutChecksum(&hive, vendrel::platform::WindowsChecksum(header.plain_xor));
  }
  {
    std::ofstream out(g_path, std::ios::binary | std::ios::trunc);
    out << hive;
    FUZZ_CHECK(out.good());
  }
  const bool user = (choices & kUsersHive) != 0;
  const auto contents = user ? HiveRegistry::Contents::kUser : HiveRegistry::Contents::kSoftware;
  const RootKey root = user ? RootKey::kCurrentUser : RootKey::kLocalMachine;
  const std::string name = kNames[(choices >> kNameShift) & 3];
  const Data set = DataToSet((choices >> kDataShift) & 3);

  HiveRegistry registry(g_path, contents, CodePage::Make(1252));
  KeyHandle key = 0;
  Result opened = registry.OpenKey(root, kKeyPath, vendrel::platform::kKeyAllAccess, &key);
  if (!opened.ok()) {
    CheckRefusal(opened);
    FUZZ_CHECK(ReadFile() == hive);
    return 0;
  }
  std::optional<Data> before[std::size(kOtherNames)];
  for (std::size_t i = 0; i < std::size(kOtherNames); ++i) {
    before[i] = Query(registry, key, kOtherNames[i]);
  }
  Result written = registry.SetValue(key, name, set.type,
                                     reinterpret_cast<const std::uint8_t*>(set.bytes.data()),
                                     static_cast<std::uint32_t>(set.bytes.size()));
  if (!written.ok()) {
    CheckRefusal(written);
    FUZZ_CHECK(ReadFile() == hive);
    return 0;
  }
  // A set is staged; the flush commits it, and lets the file go.
  Result committed = registry.FlushKey(key);
  if (!committed.ok()) {
    CheckRefusal(committed);
    FUZZ_CHECK(ReadFile() == hive);
    return 0;
  }
  FUZZ_CHECK(ReadHiveHeader(ReadFile(), &header) == HiveState::kUsable);

  HiveRegistry again(g_path, contents, CodePage::Make(1252));
  Result reopened = again.OpenKey(root, kKeyPath, vendrel::platform::kKeyAllAccess, &key);
  if (!reopened.ok()) std::fprintf(stderr, "%u %s\n", reopened.code(), reopened.detail().c_str());
  FUZZ_CHECK(reopened.ok());
  FUZZ_CHECK(Same(Query(again, key, name), set));
  for (std::size_t i = 0; i < std::size(kOtherNames); ++i) {
    if (!vendrel::EqualsIgnoringCase(kOtherNames[i], name)) {
      FUZZ_CHECK(Same(Query(again, key, kOtherNames[i]), before[i]));
    }
  }
  return 0;
}
