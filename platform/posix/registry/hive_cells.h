// The cells of a hive file that a change of one key's values gives back.
// The hive library frees every value cell, data cell and the value list of
// the key before writing the values anew, and aborts the process on a cell
// it has freed once already: on a damaged hive, where two of them are one
// cell, the change must be refused before the library sees it.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_CELLS_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_CELLS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace vendrel::platform {

// Checks, in the hive file open as fd, the cells a change of the values of
// the key whose cell is at key_cell would free; value_cells are the key's
// value cells as the hive library lists them (offsets in the file). Returns
// an empty string when each is a used cell inside the file and none is
// another, or else what is wrong, for a report.
std::string CheckCellsAChangeFrees(int fd, std::size_t key_cell,
                                   const std::vector<std::size_t>& value_cells);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_CELLS_H_
