// What a change of a key's values takes for granted of the cells it frees,
// and a damaged or crafted hive may deny: checked before the change is
// staged.
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

// A cell's offset as stored in another cell counts from the first hive bin.
inline std::uint64_t InFile(std::uint32_t stored) { return std::uint64_t{stored} + kHiveBaseBlock; }

// Checks, in the hive, the cells a change of the values of a key may free:
// its value list, its values' cells and their data cells; value_cells are
// the key's value cells as its list gives them (offsets in the file).
// Returns an empty string when each is a used cell inside the file and none
// is another, or else what is wrong, for a report.
// The keys on the way to it (key_path: the root first, the key last) and
// the subkey lists that lead from one to the next (path_lists) must keep
// their cells: one of them freed or written over leaves a hive no one can
// open.
std::string CheckCellsAChangeFrees(const HivePages& hive,
                                   const std::vector<std::uint64_t>& key_path,
                                   const std::vector<std::uint64_t>& path_lists,
                                   const std::vector<std::uint64_t>& value_cells);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_CELLS_H_
