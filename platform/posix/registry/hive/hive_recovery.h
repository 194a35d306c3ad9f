// A dirty hive file recovered, in memory, from the transaction logs that
// lie beside it on its disk.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_

#include <string>

#include "platform/posix/files/placed_file.h"
#include "platform/posix/registry/hive/hive_pages.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace vendrel::platform {

// Applies the logs beside the placed hive (dirty, or with a damaged base
// block) to its pages, as pages standing over the file's: what is read of
// them then is the hive as Windows recovers it. Nothing on the disk is
// written. Returns an empty string, else why it cannot be recovered, for a
// report that names the hive; *recovery says what was applied (was_dirty
// false: nothing was, and the hive is clean).
std::string RecoverHivePages(const PlacedFile& hive, HivePages* pages, Recovery* recovery);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_
