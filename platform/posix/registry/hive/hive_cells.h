// The cells of a hive: where their fields lie, as every reader and writer
// of them takes them; and what a change of a key's values takes for granted
// of the cells it frees, which a damaged or crafted hive may deny, checked
// before the change is staged.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_CELLS_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_CELLS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_pages.h"

namespace vendrel::platform {

// What every cell and bin shares: a bin's header, and the flag of a value
// whose data is held in the value itself.
constexpr std::uint64_t kBinHeader = 32;
constexpr std::uint32_t kDataInline = 0x80000000;

// Where a key's (nk) and a value's (vk) fields lie, from the start of the
// cell: its size field comes first.
constexpr std::uint64_t kKeyFlags = 6;
constexpr std::uint64_t kKeySubkeyCount = 24;
constexpr std::uint64_t kKeySubkeyList = 32;
constexpr std::uint64_t kKeyValueCount = 40;
constexpr std::uint64_t kKeyValueList = 44;
constexpr std::uint64_t kKeySecurity = 48;  // the class name cell follows
constexpr std::uint64_t kKeyLongestValueName = 64;
constexpr std::uint64_t kKeyLongestValueData = 68;
constexpr std::uint64_t kKeyNameLength = 76;
constexpr std::uint64_t kKeyFixed = 80;  // the name follows
constexpr std::uint16_t kKeyNameCompressed = 0x20;
constexpr std::uint64_t kValueNameLength = 6;
constexpr std::uint64_t kValueDataLength = 8;
constexpr std::uint64_t kValueData = 12;
constexpr std::uint64_t kValueType = 16;
constexpr std::uint64_t kValueFlags = 20;
constexpr std::uint64_t kValueFixed = 24;  // the name follows
constexpr std::uint16_t kValueNameCompressed = 1;

// Data longer than this lies in big data cells, in segments of at most this
// many bytes, in hives of version 1.4 and later.
constexpr std::uint32_t kLargestPlainData = 16344;
inline bool IsBigData(std::uint32_t minor_version, std::uint64_t length) {
  return minor_version >= 4 && length > kLargestPlainData;
}

// An offset in the file as a report gives it.
std::string Hex(std::uint64_t offset);

// A cell's offset as stored in another cell counts from the first hive bin.
inline std::uint64_t InFile(std::uint32_t stored) { return std::uint64_t{stored} + kHiveBaseBlock; }

// What holds a key in its place: the keys on the way to it (the root
// first, the key last), every subkey list of each of them (an ri's leaves
// too) and every key those lists name, as offsets in the file.
struct KeyPlace {
  std::vector<std::uint64_t> keys;
  std::vector<std::uint64_t> lists;
  std::vector<std::uint64_t> listed;
};

class HiveWalk;
struct ValueCell;

// Checks, in the hive the walk reads, the cells a change of the values of a
// key may free or write: its value list, its values' cells and their data
// cells (values: the key's, as its list gives them). Returns an empty
// string when each is a used cell inside the file and none is another, or
// else what is wrong, for a report.
// The cells of the key's place, the security and class name cells of the
// keys on the way and the cells of the key's big data must keep what they
// hold: one of them freed or written over leaves a hive no one can open, a
// key beside the way that Windows would find damaged, or another value's
// data changed.
std::string CheckCellsAChangeFrees(const HiveWalk& walk, const KeyPlace& place,
                                   const std::vector<ValueCell>& values);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_CELLS_H_
