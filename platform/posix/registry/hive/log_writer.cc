#include "platform/posix/registry/hive/log_writer.h"

#include <utility>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/log_base_block.h"
#include "platform/posix/registry/hive/marvin32.h"

namespace vendrel::platform {
namespace {

constexpr std::size_t kEntryHead = 40;
constexpr std::size_t kHashedHead = 32;
constexpr std::size_t kDirtyPage = 512;
// Only this bit of the base block's flags is kept in an entry.
constexpr std::uint32_t kLockedByTransactions = 1;

void PutAt(std::string* out, std::size_t at, std::uint64_t value, int bytes) {
  std::string field;
  PutField(&field, value, bytes);
  out->replace(at, field.size(), field);
}

void PadToSector(std::string* out) {
  out->resize((out->size() + kLogSector - 1) / kLogSector * kLogSector, '\0');
}

std::string BaseSector(const LogHead& head, std::uint32_t file_type) {
  std::string block(head.base_block.substr(0, kHiveBaseBlock));
  block.resize(kHiveBaseBlock, '\0');
  PutAt(&block, kPrimarySequenceAt, head.sequence, 4);
  PutAt(&block, kSecondarySequenceAt, head.sequence, 4);
  PutAt(&block, kTimestampAt, head.timestamp, 8);
  PutAt(&block, kFileTypeAt, file_type, 4);
  PutAt(&block, kBinsSizeAt, head.bins_size, 4);
  MendHiveChecksum(block.data(), block.size());
  block.resize(kLogSector);
  return block;
}

// Pages that follow one another on the hive are one reference, as Windows
// writes a run of dirty pages: each run's offset and size.
std::vector<std::pair<std::uint32_t, std::uint64_t>> Runs(const std::vector<LoggedPage>& pages) {
  std::vector<std::pair<std::uint32_t, std::uint64_t>> runs;
  for (const LoggedPage& page : pages) {
    if (!runs.empty() && runs.back().first + runs.back().second == page.offset) {
      runs.back().second += page.bytes.size();
    } else {
      runs.emplace_back(page.offset, page.bytes.size());
    }
  }
  return runs;
}

}  // namespace

std::string LogOfEntry(const LogHead& head, const std::vector<LoggedPage>& pages) {
  std::string entry(kEntryHead, '\0');
  entry.replace(0, 4, "HvLE");
  for (const auto& [offset, size] : Runs(pages)) {
    PutField(&entry, offset, 4);
    PutField(&entry, size, 4);
  }
  const std::size_t references = entry.size() - kEntryHead;
  for (const LoggedPage& page : pages) entry.append(page.bytes);
  PadToSector(&entry);
  const std::uint32_t flags =
      static_cast<std::uint32_t>(Field(head.base_block, kFlagsAt, 4)) & kLockedByTransactions;
  PutAt(&entry, 4, entry.size(), 4);
  PutAt(&entry, 8, flags, 4);
  PutAt(&entry, 12, head.sequence, 4);
  PutAt(&entry, 16, head.bins_size, 4);
  PutAt(&entry, 20, references / 8, 4);
  PutAt(&entry, 24, Marvin32(std::string_view(entry).substr(kEntryHead)), 8);
  PutAt(&entry, 32, Marvin32(std::string_view(entry).substr(0, kHashedHead)), 8);
  return BaseSector(head, kLogEntriesLog) + entry;
}

std::string LogOfDirtyVector(const LogHead& head, const std::vector<LoggedPage>& pages) {
  // One bit for each 512-byte page of the bins.
  std::string vector = "DIRT" + std::string(head.bins_size / kDirtyPage / 8, '\0');
  for (const LoggedPage& page : pages) {
    for (std::size_t bit = page.offset / kDirtyPage;
         bit < (page.offset + page.bytes.size()) / kDirtyPage; ++bit) {
      vector[4 + bit / 8] = static_cast<char>(vector[4 + bit / 8] | (1 << (bit % 8)));
    }
  }
  PadToSector(&vector);
  std::string log = BaseSector(head, kDirtyVectorLog) + vector;
  for (const LoggedPage& page : pages) log.append(page.bytes);
  return log;
}

}  // namespace vendrel::platform
