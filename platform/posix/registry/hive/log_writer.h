// A registry transaction log as Windows writes one before it changes a
// hive: a one-sector copy of the hive's base block, then the hive's dirty
// pages, as one new-format entry ("HvLE", with its two Marvin32 hashes) or
// as an old-format dirty vector ("DIRT" and the 512-byte pages it marks).
// A loader applies it to the hive only while the hive's base block says
// it is dirty and names this log's sequence number (new format) or last
// write time (old format).
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_WRITER_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vendrel::platform {

// A page of the hive bins to log: its offset within the bins and its
// bytes, a multiple of 4096 of them.
struct LoggedPage {
  std::uint32_t offset = 0;
  std::string_view bytes;
};

// What the log's base block takes from the hive's new one (its first
// sector), and the fields a log gives its own.
struct LogHead {
  std::string_view base_block;  // the hive's base block as the change leaves it
  std::uint32_t sequence = 0;   // both of the log's numbers, and its entry's
  std::uint64_t timestamp = 0;  // the last write time the log is for
  std::uint32_t bins_size = 0;  // the hive bins' size once the pages are in
};

// A new-format log of one entry bringing pages (in order of offset).
std::string LogOfEntry(const LogHead& head, const std::vector<LoggedPage>& pages);

// An old-format log whose dirty vector marks pages (in order of offset).
std::string LogOfDirtyVector(const LogHead& head, const std::vector<LoggedPage>& pages);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_WRITER_H_
