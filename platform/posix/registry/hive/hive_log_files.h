// The transaction logs that lie beside a hive on its disk: "<name>.LOG1",
// "<name>.LOG2" and "<name>.LOG", letter case ignored (a profile holds
// NTUSER.DAT beside ntuser.dat.LOG1). They are the disk's: opened through
// the hive's folder, never through a link, only when they are regular
// files within a size cap; a log is written only when it has one name.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOG_FILES_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOG_FILES_H_

#include <string>
#include <vector>

#include "platform/posix/files/placed_file.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace vendrel::platform {

enum class LogSlot { kFirst, kSecond, kSingle };  // .LOG1, .LOG2, .LOG

struct HiveLogFile {
  LogSlot slot = LogSlot::kFirst;
  HiveLog log;  // its name as found, and its content (for a commit, its base block)
  UniqueFd fd;
  bool writable = false;  // fd is open for writing too
  // The highest sequence number among its entries that hold, or 0.
  std::uint32_t highest_entry = 0;
};

enum class LogUse {
  kRead,             // for a recovery, which writes nothing: each log read as far
                     // as what it holds reaches
  kCommit,           // to be written: opened for writing where the user may, and
                     // refused when a log has more than one name; read an entry at
                     // a time, as a commit needs no more than their numbers
  kCommitRecovered,  // the same, for a hive recovered from them, whose
                     // number lies past their entries: base blocks alone
};

// Finds and reads the logs beside the placed hive, in the order LOG1,
// LOG2, LOG. Returns an empty string, or why they cannot be used, worded
// for a report that names the hive: two names that differ only in letter
// case, a log that is not a regular file (or, for a commit, one that has
// more than one name), or one that cannot be read.
std::string OpenHiveLogs(const PlacedFile& hive, LogUse use, std::vector<HiveLogFile>* logs);

// The same, their names and contents only, for a recovery.
std::string ReadHiveLogs(const PlacedFile& hive, std::vector<HiveLog>* logs);

// The name Windows gives a log of the hive named hive_name in slot: the
// hive's name and the slot's suffix, a profile's "ntuser.dat" in lower case.
std::string LogNameOf(const std::string& hive_name, LogSlot slot);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LOG_FILES_H_
