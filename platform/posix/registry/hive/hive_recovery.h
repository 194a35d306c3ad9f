// A dirty hive file recovered, in memory, from the transaction logs that
// lie beside it on its disk.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_

#include <string>
#include <vector>

#include "platform/posix/files/placed_file.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace vendrel::platform {

// The hive open as fd (the placed one, dirty or with a damaged base block)
// with its logs applied, as a file in memory (*recovered, at offset 0).
// Nothing on the disk is written. Returns an empty string, else why it
// cannot be recovered, for a report that names the hive; *recovery says
// what was applied (was_dirty false: nothing was, and the hive is clean).
std::string RecoverHiveFile(const PlacedFile& hive, int fd, UniqueFd* recovered,
                            Recovery* recovery);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_
