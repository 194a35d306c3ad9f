// The page walk against hivex, a reader this program does not use, on the
// same bytes: where hivex reads the product key, the walk reads the same
// values (names, types, data) or refuses for a reason hivex does not look
// for; and the in-place writer's change of Drive reads back through hivex
// as the walk expects, every other value as it was.
// An input is one byte (as hive_fuzz reads it: bit 2, a user's hive)
// followed by the hive file.
#include <hivex.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_in_place.h"
#include "platform/posix/registry/hive/hive_walk.h"

namespace {

using namespace vendrel::platform;  // NOLINT(google-build-using-namespace)

using Values = std::map<std::string, std::pair<std::uint32_t, std::string>>;  // by UTF-16 name

std::string Utf16(const std::string& ascii) {
  std::string wide;
  for (char c : ascii) wide += std::string{c, '\0'};
  return wide;
}

int MemFile(const std::string& bytes) {
  const int fd = memfd_create("hive", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0 &&
             write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  return fd;
}

// The walk's values of the key at path, or why it refused.
std::optional<Values> Walk(const std::string& hive, const std::vector<std::string>& path,
                           std::string* refused, KeyCell* key, std::vector<ValueCell>* cells,
                           std::vector<KeyCell>* way) {
  HiveHeader header;
  ReadHiveHeader(hive, &header);
  const int fd = MemFile(hive);
  HivePages pages(fd, hive.size());
  // hivex reads every name, whatever a list's hashes say.
  HiveWalk walk(pages, header.minor_version, InFile(header.bins_size), Lookup::kEveryName);
  Values values;
  *refused = walk.Key(header.root_cell, key, false);
  way->push_back(*key);
  for (std::size_t i = 0; refused->empty() && i < path.size(); ++i) {
    bool found = false;
    KeyCell child;
    *refused = walk.Child(*key, Utf16(path[i]), &child, &found);
    if (!found && refused->empty()) *refused = "no such key";
    *key = child;
    way->push_back(*key);
  }
  if (refused->empty()) *refused = walk.Values(*key, cells);
  for (std::size_t i = 0; refused->empty() && i < cells->size(); ++i) {
    std::string data;
    *refused = walk.Data((*cells)[i], &data);
    const std::string& name = (*cells)[i].name;
    for (std::size_t at = 0; at + 1 < name.size(); at += 2) {
      if (name[at] == '\0' && name[at + 1] == '\0') *refused = "a name hivex cannot give";
    }
    values.emplace(name, std::make_pair((*cells)[i].type, data));
  }
  close(fd);
  return refused->empty() ? std::optional<Values>(values) : std::nullopt;
}

// hivex's values of the key at path, ASCII names made UTF-16 again, or nothing.
std::optional<Values> Hivex(std::string hive, const std::vector<std::string>& path) {
  // hivex takes no checksum but the plain XOR, where Windows stores 1 for 0.
  HiveHeader header;
  ReadHiveHeader(hive, &header);
  PutChecksum(&hive, header.plain_xor);
  const int fd = MemFile(hive);
  hive_h* h = hivex_open(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0);
  close(fd);
  if (h == nullptr) return std::nullopt;
  std::optional<Values> values = Values{};
  hive_node_h node = hivex_root(h);
  for (const std::string& name : path) {
    node = node == 0 ? 0 : hivex_node_get_child(h, node, name.c_str());
    // hivex takes a name as C text, up to a NUL in it; Windows does not.
    char* found = node == 0 ? nullptr : hivex_node_name(h, node);
    if (found == nullptr || std::strlen(found) != hivex_node_name_len(h, node)) node = 0;
    std::free(found);
  }
  hive_value_h* list = node == 0 ? nullptr : hivex_node_values(h, node);
  for (std::size_t i = 0; list != nullptr && list[i] != 0 && values; ++i) {
    char* name = hivex_value_key(h, list[i]);
    hive_type type = hive_t_REG_NONE;
    std::size_t length = 0;
    char* data = hivex_value_value(h, list[i], &type, &length);
    const bool ascii = name != nullptr && std::all_of(name, name + std::strlen(name), [](char c) {
                         return static_cast<unsigned char>(c) < 0x80;
                       });
    if (data == nullptr || !ascii) values.reset();
    std::uint32_t number = 0;  // any number a hive holds, which hivex's enum may not name
    std::memcpy(&number, &type, sizeof number);
    if (values) values->emplace(Utf16(name), std::make_pair(number, std::string(data, length)));
    std::free(name);
    std::free(data);
  }
  if (list == nullptr) values.reset();
  std::free(list);
  hivex_close(h);
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 + kHiveBaseBlock) return 0;
  std::string hive(reinterpret_cast<const char*>(data) + 1, size - 1);
  HiveHeader header;
  if (ReadHiveHeader(hive, &header) == HiveState::kNotAHive || header.bins_size == 0 ||
      header.bins_size % kHiveBaseBlock != 0 || InFile(header.bins_size) > hive.size()) {
    return 0;
  }
  const std::vector<std::string> path = (data[0] & 2) != 0
                                            ? std::vector<std::string>{"Software", "Tarvel Global"}
                                            : std::vector<std::string>{"Tarvel Global"};
  std::string refused;
  KeyCell key;
  std::vector<ValueCell> cells;
  std::vector<KeyCell> way;
  const std::optional<Values> ours = Walk(hive, path, &refused, &key, &cells, &way);
  const std::optional<Values> theirs = Hivex(hive, path);
  // What hivex does not look for: names it cannot give, lists that name a
  // cell twice, data longer than the hive, more work than any hive asks.
  for (const char* unchecked :
       {"a name hivex cannot give", " twice", "no hive holds", "any hive holds"}) {
    if (refused.find(unchecked) != std::string::npos) return 0;
  }
  // hivex takes data for big data wherever its cell cannot hold it, in a
  // hive of any version, and gives what the segments hold, short or not;
  // Windows, and the walk, go by the hive's version and refuse short data.
  for (const ValueCell& cell : cells) {
    if (cell.in_value || cell.length == 0 || InFile(cell.data) + 4 > hive.size()) continue;
    const auto stored = static_cast<std::uint32_t>(Field(hive, InFile(cell.data), 4));
    const std::uint64_t room = (stored & 0x80000000U) != 0 ? 0x100000000ULL - stored : stored;
    const bool big_to_hivex = room < 4 + std::uint64_t{cell.length};
    if (big_to_hivex != IsBigData(header.minor_version, cell.length) || (big_to_hivex && !ours)) {
      return 0;
    }
  }
  if (theirs) {
    if (!ours) std::fprintf(stderr, "the walk refused: %s\n", refused.c_str());
    FUZZ_CHECK(ours && *ours == *theirs);
  }
  if (!ours || !theirs) return 0;
  // Drive set in place, as a change does once the cells it frees are
  // checked, and the pages written into a copy.
  const int fd = MemFile(hive);
  HivePages pages(fd, hive.size());
  HiveWalk walk(pages, header.minor_version, InFile(header.bins_size));
  KeyPlace place;
  if (!walk.Place(way, &place).empty() || !CheckCellsAChangeFrees(walk, place, cells).empty()) {
    close(fd);
    return 0;
  }
  InPlaceChange change;
  std::vector<InPlaceChange::Held> held;
  held.reserve(cells.size());
  for (const ValueCell& cell : cells) held.push_back({cell.name, cell.cell, walk.DataCell(cell)});
  change.AddKey(key.cell, held);
  const std::string drive = Utf16("Drive"), text = Utf16("F:") + std::string(2, '\0');
  change.Set(key.cell, drive, 1, text);
  ChangedPages changed;
  std::string refusal;
  const int error = change.Pages(walk, header.minor_version, &changed, &refusal);
  close(fd);
  if (error != 0) return 0;
  std::string after = hive;
  after.resize(changed.length, '\0');
  std::string_view records = changed.records;
  std::uint64_t at = 0;
  for (std::string_view bytes; TakePageRecord(&records, &at, &bytes);)
    after.replace(at, bytes.size(), bytes);
  Values expected = *ours;
  expected[drive] = {1, text};
  const std::optional<Values> read_back = Hivex(after, path);
  FUZZ_CHECK(read_back && *read_back == expected);
  return 0;
}
