// A hive as the hive registry reads it: its pages on demand, through a
// descriptor of its own, and what the registry checked of its file.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOADED_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOADED_H_

#include <sys/stat.h>

#include <memory>

#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_pages.h"
#include "platform/posix/registry/hive/hive_registry.h"
#include "platform/posix/registry/hive/hive_walk.h"

namespace vendrel::platform {

struct HiveRegistry::Loaded {
  UniqueFd fd;  // the file as read (or a pending rewrite's content)
  struct stat file {};
  HiveHeader header;
  // For a dirty hive, with the pages its logs bring standing over the file's.
  std::unique_ptr<HivePages> pages;
  std::unique_ptr<HiveWalk> walk;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOADED_H_
