// A dirty hive's transaction logs applied to it in memory, as Windows
// applies them when it loads the hive: the recovered hive is what Windows
// itself would have seen.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_TRANSACTION_LOG_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_TRANSACTION_LOG_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/files/changed_pages.h"

namespace vendrel::platform {

struct HiveLog {
  std::string name;   // the log's file name, for reports ("SOFTWARE.LOG1")
  std::string bytes;  // its whole content as read (already capped by the caller)
};

struct Recovery {
  bool was_dirty = false;              // false: the hive was clean and is left as it was
  std::size_t pages_applied = 0;       // page records of the logs written into the hive
  std::size_t entries_applied = 0;     // log entries applied; 1 for an old-format log
  std::uint32_t sequence = 0;          // what both base-block sequence numbers now hold
  std::vector<std::string> logs_used;  // the logs whose content was applied, in that order
  // What of the hive the logs put in (offsets in the file), the base block
  // first: a commit of the recovered hive writes these and nothing else.
  std::vector<Stretch> written;
};

// Applies logs to hive (the whole hive file's content, base block first),
// in place, as Windows does:
// - New-format logs (Windows 8.1 and later): their entries, the log with the
//   earlier entries first, from the one the hive waits for on, until a
//   number is skipped or an entry fails its hashes or bounds. After a
//   partial reconcile the first may lie above the hive's own number.
// - Otherwise an old-format log whose last write time is the hive's.
// A base block with a wrong checksum is first taken from the log.
//
// The recovered base block is clean: both sequence numbers are one past
// every number the hive and the logs hold, so that no loader applies an
// entry again; the bins size and flags are the last entry's; the checksum
// is mended. The hive grows only by what the logs' pages bring.
//
// Returns an empty string when the hive was recovered, or when it was clean
// (recovery->was_dirty false; nothing done). Otherwise the reason nothing
// could be applied, worded for support staff (what to copy from the disk),
// and the hive is left as it was.
std::string RecoverHive(std::string* hive, const std::vector<HiveLog>& logs, Recovery* recovery);

// The hive a recovery reads, whose bytes it asks for as it needs them: a
// hive file's pages are read on demand, never all at once.
class HiveSource {
 public:
  virtual ~HiveSource() = default;
  virtual std::uint64_t size() const = 0;
  // size bytes from at into *out; false when they cannot be read.
  virtual bool Read(std::uint64_t at, std::size_t size, std::string* out) const = 0;
};

// Where a recovery puts what it applies: the hive is only read, and every
// change goes to image, which stands for the hive with its changes.
class RecoveredImage {
 public:
  virtual ~RecoveredImage() = default;
  // Grows the image, with zeros, to length bytes where it is shorter.
  virtual void Grow(std::uint64_t length) = 0;
  virtual void Put(std::uint64_t at, std::string_view bytes) = 0;
};

// The same, reading hive and writing what changes to image.
std::string RecoverHive(const HiveSource& hive, const std::vector<HiveLog>& logs,
                        RecoveredImage* image, Recovery* recovery);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_TRANSACTION_LOG_H_
