// A dirty hive file recovered from the transaction logs that lie beside it
// on its disk:
// "<name>.LOG1", "<name>.LOG2" and "<name>.LOG", letter case ignored (a
// profile holds NTUSER.DAT beside ntuser.dat.LOG1). They are the disk's:
// read through the hive's folder, never through a link, only when they are
// regular files within a size cap, and never written or removed.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_

#include <string>
#include <vector>

#include "platform/posix/files/placed_file.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace vendrel::platform {

// Reads the logs beside the placed hive, in the order LOG1, LOG2, LOG.
// Returns an empty string, or why they cannot be used, worded for a report
// that names the hive: two names that differ only in letter case, a log
// that is not a regular file, or one that cannot be read.
std::string ReadHiveLogs(const PlacedFile& hive, std::vector<HiveLog>* logs);

// The hive open as fd (the placed one, dirty or with a damaged base block)
// with its logs applied, as a file in memory (*recovered, at offset 0).
// Nothing on the disk is written. Returns an empty string, else why it
// cannot be recovered, for a report that names the hive; *recovery says
// what was applied (was_dirty false: nothing was, and the hive is clean).
std::string RecoverHiveFile(const PlacedFile& hive, int fd, UniqueFd* recovered,
                            Recovery* recovery);

// Adds to changed the pages of the recovered hive open as image that hold
// what its logs put in (written) and that changed lacks, so that a commit
// of the recovered hive writes all it holds that the file does not.
// Returns 0 or an errno value.
int AddRecoveredPages(int image, const std::vector<Stretch>& written, ChangedPages* changed);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_RECOVERY_H_
