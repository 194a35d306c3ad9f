#include "platform/posix/registry/hive_cells.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/posix/registry/hive_header.h"

namespace vendrel::platform {
namespace {

// Where the fields are, from the start of a cell (its size comes first).
constexpr std::size_t kKeyValueCount = 40;
constexpr std::size_t kKeyValueList = 44;
constexpr std::size_t kValueDataLength = 8;
constexpr std::size_t kValueDataCell = 12;
constexpr std::uint32_t kDataInline = 0x80000000;

std::string Hex(std::uint64_t offset) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
  return text;
}

// The 32-bit little-endian word at offset in the file, if the file holds it.
bool ReadWord(int fd, std::uint64_t offset, std::uint32_t* word) {
  std::array<unsigned char, 4> bytes{};
  if (pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
      static_cast<ssize_t>(bytes.size())) {
    return false;
  }
  *word = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return true;
}

// A cell's offset as stored in another cell counts from the first hive bin.
std::uint64_t InFile(std::uint32_t stored) { return std::uint64_t{stored} + kHiveBaseBlock; }

}  // namespace

std::string CheckCellsAChangeFrees(int fd, std::size_t key_cell,
                                   const std::vector<std::size_t>& value_cells) {
  // Each cell to be freed, with what it is for the report.
  std::vector<std::pair<std::uint64_t, std::string>> freed;
  std::uint32_t count = 0;
  std::uint32_t list = 0;
  if (!ReadWord(fd, key_cell + kKeyValueCount, &count) ||
      !ReadWord(fd, key_cell + kKeyValueList, &list)) {
    return "its cell at " + Hex(key_cell) + " runs past the end of the file";
  }
  if (count != 0) freed.emplace_back(InFile(list), "value list");
  for (std::size_t cell : value_cells) {
    freed.emplace_back(cell, "value cell");
    std::uint32_t length = 0;
    std::uint32_t data = 0;
    if (!ReadWord(fd, cell + kValueDataLength, &length) ||
        !ReadWord(fd, cell + kValueDataCell, &data)) {
      return "its value cell at " + Hex(cell) + " runs past the end of the file";
    }
    if ((length & kDataInline) == 0) freed.emplace_back(InFile(data), "data cell");
  }
  for (const auto& [offset, what] : freed) {
    std::uint32_t size = 0;
    const std::string cell = "its " + what + " at " + Hex(offset);
    if (!ReadWord(fd, offset, &size)) return cell + " lies outside the file";
    // A used cell gives its size as a negative number.
    if ((size & 0x80000000) == 0) return cell + " is a free cell";
    if (offset == key_cell) return cell + " is the key's own cell";
  }
  std::vector<std::pair<std::uint64_t, std::string>> sorted = freed;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  auto shared = std::adjacent_find(sorted.begin(), sorted.end(),
                                   [](const auto& a, const auto& b) { return a.first == b.first; });
  if (shared != sorted.end()) {
    const std::string& other = std::next(shared)->second;
    const std::string cells = shared->second == other ? "two of its " + other + "s"
                                                      : "its " + shared->second + " and a " + other;
    return cells + " are one cell, at " + Hex(shared->first);
  }
  return std::string();
}

}  // namespace vendrel::platform
