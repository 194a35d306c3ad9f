#include "platform/posix/registry/hive/hive_recovery.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/posix/files/file_io.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_log_files.h"

namespace vendrel::platform {

std::string RecoverHivePages(const PlacedFile& hive, HivePages* pages, Recovery* recovery) {
  *recovery = Recovery{};
  std::vector<HiveLog> logs;
  if (std::string unusable = ReadHiveLogs(hive, &logs); !unusable.empty()) return unusable;
  if (pages->size() > kLargestHive) return std::strerror(EOVERFLOW);
  if (pages->size() < kHiveBaseBlock) return "it is too short to be a registry hive";
  HiveOverlay overlay(*pages);
  if (std::string refused = RecoverHive(*pages, logs, &overlay, recovery); !refused.empty()) {
    return refused;
  }
  if (overlay.past_cap()) {
    return "its transaction logs would grow it past " + std::to_string(kLargestHive >> 20) +
           " MiB, the largest hive this program reads";
  }
  if (overlay.error() != 0) return std::strerror(overlay.error());
  if (recovery->was_dirty) pages->TakeOverlay(std::move(overlay), std::move(recovery->written));
  return std::string();
}

}  // namespace vendrel::platform
