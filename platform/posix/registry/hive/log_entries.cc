#include "platform/posix/registry/hive/log_entries.h"

#include <algorithm>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/log_base_block.h"
#include "platform/posix/registry/hive/marvin32.h"

namespace vendrel::platform {
namespace {

constexpr std::size_t kEntryHead = kLogEntryHead;
constexpr std::size_t kHashedHead = 32;  // what the second hash covers
constexpr std::size_t kPageReference = 8;
constexpr std::uint64_t kPageUnit = 4096;

std::uint32_t Word(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Field(bytes, at, 4));
}

// The pages an entry's references name, as offsets in the hive bins; the
// entry has passed its checks.
std::vector<Stretch> PagesOf(const LogEntry& entry) {
  std::vector<Stretch> pages;
  for (std::uint32_t page = 0; page < entry.page_count; ++page) {
    const std::size_t reference = kEntryHead + std::size_t{page} * kPageReference;
    pages.push_back({Word(entry.bytes, reference), Word(entry.bytes, reference + 4)});
  }
  return pages;
}

}  // namespace

bool LogEntryHeadHolds(std::string_view head) {
  if (head.size() < kEntryHead || head.substr(0, 4) != "HvLE") return false;
  const std::uint32_t size = Word(head, 4);
  const std::uint32_t bins_size = Word(head, 16);
  return size >= kEntryHead && size % kLogSector == 0 && bins_size != 0 &&
         bins_size % kPageUnit == 0 && Field(head, 32, 8) == Marvin32(head.substr(0, kHashedHead));
}

bool ReadLogEntry(std::string_view log, std::size_t at, LogEntry* entry) {
  if (at > log.size() || log.size() - at < kEntryHead) return false;
  const std::string_view head = log.substr(at, kEntryHead);
  if (head.substr(0, 4) != "HvLE") return false;
  const std::uint32_t size = Word(head, 4);
  // Entries follow one another on sector boundaries.
  if (size < kEntryHead || size % kLogSector != 0 || size > log.size() - at) return false;
  const std::string_view bytes = log.substr(at, size);
  entry->bytes = bytes;
  entry->flags = Word(head, 8);
  entry->sequence = Word(head, 12);
  entry->bins_size = Word(head, 16);
  entry->page_count = Word(head, 20);
  // Every hive holds at least one bin, and bins come in whole pages.
  if (entry->bins_size == 0 || entry->bins_size % kPageUnit != 0) return false;
  if (Field(head, 24, 8) != Marvin32(bytes.substr(kEntryHead))) return false;
  if (Field(head, 32, 8) != Marvin32(bytes.substr(0, kHashedHead))) return false;

  const std::uint64_t references = std::uint64_t{entry->page_count} * kPageReference;
  if (references > size - kEntryHead) return false;
  std::uint64_t page_bytes = 0;
  for (std::uint32_t page = 0; page < entry->page_count; ++page) {
    const std::size_t reference = kEntryHead + std::size_t{page} * kPageReference;
    const std::uint64_t offset = Word(bytes, reference);
    const std::uint64_t page_size = Word(bytes, reference + 4);
    // A page of no bytes brings nothing but the cost of its reference.
    if (page_size == 0 || page_size % kPageUnit != 0 || offset + page_size > entry->bins_size) {
      return false;
    }
    page_bytes += page_size;
  }
  if (page_bytes > size - kEntryHead - references) return false;
  entry->page_bytes = page_bytes;
  return true;
}

std::size_t PlanLogEntries(std::string_view log, EntryPlan* plan) {
  std::size_t added = 0;
  LogEntry entry;
  for (std::size_t at = kLogSector; ReadLogEntry(log, at, &entry); at += entry.bytes.size()) {
    if (entry.sequence != plan->next_sequence) break;
    // Windows writes every page of the bins an entry adds; growth its pages
    // do not fill would be room made from nothing.
    if (!CoversGrowth(plan->bins_length, entry.bins_size, PagesOf(entry))) break;
    plan->bins_length = std::max<std::uint64_t>(plan->bins_length, entry.bins_size);
    plan->entries.push_back(entry);
    ++plan->next_sequence;
    ++added;
    if (plan->next_sequence == 0) break;  // nothing can follow the last number
  }
  return added;
}

std::uint32_t HighestEntrySequence(std::string_view log) {
  // An entry that fails its checks ends a recovery, but entries beyond it
  // still count: a loader must never find one at or above the hive's number.
  // Its own size field steps over it while it lies within the log.
  std::uint32_t highest = 0;
  LogEntry entry;
  for (std::size_t at = kLogSector; at <= log.size() && log.size() - at >= kEntryHead;) {
    if (log.substr(at, 4) != "HvLE") break;
    const std::uint32_t size = Word(log, at + 4);
    if (size < kEntryHead || size % kLogSector != 0 || size > log.size() - at) break;
    if (ReadLogEntry(log, at, &entry)) highest = std::max(highest, entry.sequence);
    at += size;
  }
  return highest;
}

void ApplyLogEntry(const LogEntry& entry, RecoveredImage* hive, std::vector<Stretch>* written) {
  hive->Grow(kHiveBaseBlock + std::uint64_t{entry.bins_size});
  std::size_t data = kEntryHead + std::size_t{entry.page_count} * kPageReference;
  for (const Stretch& page : PagesOf(entry)) {
    hive->Put(kHiveBaseBlock + page.at, entry.bytes.substr(data, page.size));
    written->push_back({kHiveBaseBlock + page.at, page.size});
    data += page.size;
  }
}

}  // namespace vendrel::platform
