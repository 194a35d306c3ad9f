// The base block at the start of a registry transaction log: the copy of
// the hive's own that Windows writes in the log's first sector, and that
// says which of the two log formats follows it.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_BASE_BLOCK_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_BASE_BLOCK_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vendrel::platform {

// A log's base block fills its first sector; what follows starts on the next.
constexpr std::size_t kLogSector = 512;
constexpr std::uint32_t kDirtyVectorLog = 1;  // before Windows 8.1
constexpr std::uint32_t kLogEntriesLog = 6;   // Windows 8.1 and later

// Where the fields lie, in a hive's base block as in a log's.
constexpr std::size_t kPrimarySequenceAt = 4;
constexpr std::size_t kSecondarySequenceAt = 8;
constexpr std::size_t kTimestampAt = 12;
constexpr std::size_t kFileTypeAt = 28;
constexpr std::size_t kBinsSizeAt = 40;
constexpr std::size_t kFlagsAt = 144;

// Past this, the recovered hive's number and the one its first change
// gives it would run out and wrap below the logs' entries.
constexpr std::uint32_t kLastUsableSequence = 0xFFFFFFFD;

struct LogBaseBlock {
  std::uint32_t file_type = 0;
  std::uint32_t sequence = 0;  // both of its sequence numbers
  std::uint64_t timestamp = 0;
  std::uint32_t bins_size = 0;
};

// Reads the base block of log: false when it is not one Windows finished
// writing (too short, no "regf", a wrong checksum, sequence numbers that
// differ, or a file type of neither format).
bool ReadLogBaseBlock(std::string_view log, LogBaseBlock* block);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_BASE_BLOCK_H_
