// Marvin32, the keyed hash Windows puts in each entry of a new-format
// transaction log, so that a torn or foreign entry is told from one Windows
// finished writing.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_MARVIN32_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_MARVIN32_H_

#include <cstdint>
#include <string_view>

namespace vendrel::platform {

// The initial key Windows hashes log entries with: its low half starts the
// hash's low word, its high half the high word.
constexpr std::uint64_t kLogEntryHashKey = 0x82EF4D887A4E55C5ULL;

// The 64-bit hash of data (high word first), as a log entry stores it in
// little-endian order.
std::uint64_t Marvin32(std::string_view data, std::uint64_t key = kLogEntryHashKey);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_MARVIN32_H_
