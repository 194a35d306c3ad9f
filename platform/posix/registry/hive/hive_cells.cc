#include "platform/posix/registry/hive/hive_cells.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_walk.h"

namespace vendrel::platform {
namespace {

// The 32-bit little-endian words from offset in the hive, if it holds
// them: fields that lie side by side come with one read.
template <std::size_t kCount>
bool ReadWords(const HivePages& hive, std::uint64_t offset,
               std::array<std::uint32_t, kCount>* words) {
  std::string bytes;
  if (!hive.Read(offset, 4 * kCount, &bytes)) return false;
  for (std::size_t i = 0; i < kCount; ++i) {
    (*words)[i] = static_cast<std::uint32_t>(Field(bytes, 4 * i, 4));
  }
  return true;
}

}  // namespace

std::string Hex(std::uint64_t offset) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
  return text;
}

std::string CheckCellsAChangeFrees(const HiveWalk& walk, const KeyPlace& place,
                                   const std::vector<ValueCell>& values) {
  const HivePages& hive = walk.pages();
  if (place.keys.empty()) return "it has no cell";
  const std::uint64_t key_cell = place.keys.back();
  // The security and class name cells of the keys on the way; "none" is
  // all ones, which no cell of the file is.
  std::vector<std::uint64_t> described;
  for (std::uint64_t key : place.keys) {
    std::array<std::uint32_t, 2> cells{};  // security, class name
    if (!ReadWords(hive, key + kKeySecurity, &cells)) {
      return "a key's cell at " + Hex(key) + " runs past the end of the file";
    }
    for (std::uint32_t cell : cells) described.push_back(InFile(cell));
  }
  const auto among = [](const std::vector<std::uint64_t>& cells, std::uint64_t offset) {
    return std::find(cells.begin(), cells.end(), offset) != cells.end();
  };
  // A key on the way may have thousands of subkeys.
  std::vector<std::uint64_t> listed = place.listed;
  std::sort(listed.begin(), listed.end());
  // Each cell to be freed, with what it is for the report.
  std::vector<std::pair<std::uint64_t, const char*>> freed;
  std::array<std::uint32_t, 2> key{};  // the count of values, the value list
  if (!ReadWords(hive, key_cell + kKeyValueCount, &key)) {
    return "its cell at " + Hex(key_cell) + " runs past the end of the file";
  }
  if (key[0] != 0) freed.emplace_back(InFile(key[1]), "value list");
  // The cells of big data, which a change keeps as they are.
  std::vector<std::uint64_t> big;
  for (const ValueCell& value : values) {
    freed.emplace_back(value.cell, "value cell");
    if (const std::uint64_t data = walk.DataCell(value); data != 0) {
      freed.emplace_back(data, "data cell");
    } else if (std::string wrong = walk.BigDataCells(value, &big); !wrong.empty()) {
      return wrong;
    }
  }
  std::sort(big.begin(), big.end());
  if (std::binary_search(big.begin(), big.end(), key_cell)) {
    return "its cell at " + Hex(key_cell) + " is a cell of a value's big data";
  }
  for (const auto& [offset, what] : freed) {
    std::array<std::uint32_t, 1> size{};
    const char* wrong = nullptr;
    if (!ReadWords(hive, offset, &size)) {
      wrong = " lies outside the file";
    } else if ((size[0] & 0x80000000) == 0) {  // a used cell gives its size as a negative number
      wrong = " is a free cell";
    } else if (offset == key_cell) {
      wrong = " is the key's own cell";
    } else if (among(place.keys, offset)) {
      wrong = " is the cell of a key on the way to it";
    } else if (among(place.lists, offset)) {
      wrong = " is a subkey list on the way to it";
    } else if (std::binary_search(listed.begin(), listed.end(), offset)) {
      wrong = " is the cell of a key listed on the way to it";
    } else if (among(described, offset)) {
      wrong = " is the security or class name cell of a key on the way to it";
    } else if (std::binary_search(big.begin(), big.end(), offset)) {
      wrong = " is a cell of a value's big data";
    }
    if (wrong != nullptr) return std::string("its ") + what + " at " + Hex(offset) + wrong;
  }
  // In the order found among cells at one offset, for the report.
  std::stable_sort(freed.begin(), freed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  auto shared = std::adjacent_find(freed.begin(), freed.end(),
                                   [](const auto& a, const auto& b) { return a.first == b.first; });
  if (shared != freed.end()) {
    const std::string first = shared->second;
    const std::string other = std::next(shared)->second;
    const std::string cells =
        first == other ? "two of its " + other + "s" : "its " + first + " and a " + other;
    return cells + " are one cell, at " + Hex(shared->first);
  }
  return std::string();
}

}  // namespace vendrel::platform
