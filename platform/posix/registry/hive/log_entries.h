// The entries of a new-format transaction log ("HvLE"): each brings the
// hive's dirty pages as one flush left them, under two Marvin32 hashes.
// What an entry says is judged by the bytes it holds: Windows stops a
// recovery at the first entry that fails its checks, and so do we.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_ENTRIES_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_ENTRIES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace vendrel::platform {

// What an entry holds before its first page reference.
constexpr std::size_t kLogEntryHead = 40;

// An entry whose hashes and bounds held.
struct LogEntry {
  std::string_view bytes;  // the whole entry, within its log
  std::uint32_t flags = 0;
  std::uint32_t sequence = 0;
  std::uint32_t bins_size = 0;
  std::uint32_t page_count = 0;
  std::uint64_t page_bytes = 0;  // what its pages bring, all told
};

// Reads the entry at offset at of log: false when there is none, or when it
// fails a hash, holds a bins size or a page size that is not a multiple of
// 4096 (or is none), a page outside its bins size, or a length past its own bytes.
bool ReadLogEntry(std::string_view log, std::size_t at, LogEntry* entry);

// Whether the first kLogEntryHead bytes of an entry hold as its head: its
// signature, a size on sector boundaries, a bins size in whole pages, and
// the hash over the head; so that an entry that cannot hold is never read
// whole.
bool LogEntryHeadHolds(std::string_view head);

// The entries to apply, as the logs are read one after another.
struct EntryPlan {
  std::vector<LogEntry> entries;
  std::uint32_t next_sequence = 0;  // the one the next entry must carry
  std::uint64_t bins_length = 0;    // the hive bins bytes the image holds by then
};

// Adds to plan the entries of log that follow on from plan->next_sequence,
// from the log's first on; stops at the first that fails its checks, skips a
// number, or grows the image by more than its own pages bring. Returns how
// many it added.
std::size_t PlanLogEntries(std::string_view log, EntryPlan* plan);

// The highest sequence number among the entries of log that pass their
// checks, as far as the entries' own sizes lead; 0 when there are none.
std::uint32_t HighestEntrySequence(std::string_view log);

// Writes entry's pages into hive (base block first), first growing it to
// the entry's bins size when that lies beyond its end.
void ApplyLogEntry(const LogEntry& entry, RecoveredImage* hive, std::vector<Stretch>* written);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_LOG_ENTRIES_H_
