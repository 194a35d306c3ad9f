// A hive as the hive registry holds it in memory: read through hivex,
// with what the registry checked of its file.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOADED_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOADED_H_

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_library.h"
#include "platform/posix/registry/hive/hive_registry.h"

namespace vendrel::platform {

struct HiveRegistry::Loaded {
  HiveHandle hive;
  struct stat file {};
  std::uint32_t minor_version = 0;
  HiveBins bins;
  // Whether every cell is where the file has it: not so once a change was
  // written in place, as hivex placed its own cells elsewhere.
  bool cells_as_in_file = true;
  // For a dirty hive, the hive its logs recover, in memory: what was read,
  // and what a change's cells are checked in. The file is not that hive
  // until a change commits it whole.
  UniqueFd recovered;
  std::vector<Stretch> recovered_pages;  // what the logs put in, which the file lacks

  // Where the hive's cells are to be read: the file open as file_fd, or the
  // recovered hive.
  int CellsIn(int file_fd) const { return recovered ? recovered.get() : file_fd; }
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOADED_H_
