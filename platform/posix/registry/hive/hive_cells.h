// What the hive library takes for granted in a hive file it changes, and
// a damaged or crafted hive may deny: checked before the library sees it.
//
// It adds hive bins where the base block says they end: with the bins not
// ending there, its new bin overwrites some or leaves a gap. It frees every
// value cell, data cell and the value list of a key before writing the
// key's values anew, and aborts the process on a cell it has freed once
// already, as where two of them are one cell.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_CELLS_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_CELLS_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/registry/hive/hive_header.h"

namespace vendrel::platform {

// What every cell and bin shares: a bin's header, and the flag of a value
// whose data is held in the value itself.
constexpr std::uint64_t kBinHeader = 32;
constexpr std::uint32_t kDataInline = 0x80000000;

// A cell's offset as stored in another cell counts from the first hive bin.
inline std::uint64_t InFile(std::uint32_t stored) { return std::uint64_t{stored} + kHiveBaseBlock; }

// The hive bins of a hive file: where each starts (file offsets, in
// order), and where the last ends.
struct HiveBins {
  std::vector<std::uint64_t> starts;
  std::uint64_t end = 0;
  // Whether size bytes from offset lie in one bin, behind its header.
  bool HoldCell(std::uint64_t offset, std::uint64_t size) const;
};

// Checks that the hive bins of the hive file open as fd, whose status is
// file, end where its base block, read as header, says, and gives them.
// Returns an empty string, or else what is wrong, for a report.
std::string CheckHiveBins(int fd, const struct stat& file, const HiveHeader& header,
                          HiveBins* bins);

// Checks, in the hive file open as fd, the cells a change of the values of
// the key whose cell is at key_cell would free; value_cells are the key's
// value cells as the hive library lists them (offsets in the file). Returns
// an empty string when each is a used cell inside the file and none is
// another, or else what is wrong, for a report.
// The keys on the way to it (key_path: the root first, the key last) must
// keep their cells: one of them freed leaves a hive no one can open.
std::string CheckCellsAChangeFrees(int fd, const std::vector<std::size_t>& key_path,
                                   const std::vector<std::size_t>& value_cells);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_CELLS_H_
