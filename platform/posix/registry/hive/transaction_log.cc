#include "platform/posix/registry/hive/transaction_log.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/dirty_vector.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/log_base_block.h"
#include "platform/posix/registry/hive/log_entries.h"

namespace vendrel::platform {
namespace {

constexpr std::size_t kFirstBinTimestampAt = kHiveBaseBlock + 20;

struct Candidate {
  const HiveLog* log;
  LogBaseBlock block;
};

// What the hive's own base block says, when it can be trusted.
struct HiveStart {
  bool trusted = false;  // false: a wrong checksum, the base block comes from a log
  std::uint32_t primary = 0;
  std::uint32_t secondary = 0;
  std::uint64_t timestamp = 0;
  // The highest number any log carries, in an entry or its base block,
  // whatever else it holds: the clean hive is numbered past it.
  std::uint32_t in_logs = 0;
};

std::string Names(const std::vector<Candidate>& candidates) {
  std::string names;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (i > 0) names += i + 1 == candidates.size() ? " and " : ", ";
    names += candidates[i].log->name;
  }
  return names;
}

void PutWord(std::string* hive, std::size_t at, std::uint32_t value) {
  for (std::size_t b = 0; b < 4; ++b)
    (*hive)[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
}

std::string OutOfNumbers(std::uint32_t highest) {
  return "its transaction logs carry sequence number " + std::to_string(highest) +
         ", the end of the numbers a hive can take: no clean hive could be numbered past them";
}

// One past highest, so that no entry a loader finds is at or above it.
std::uint32_t OnePast(std::uint32_t highest) {
  return highest == 0xFFFFFFFF ? highest : highest + 1;
}

std::uint32_t HighestInHive(const HiveStart& start) {
  return std::max(start.in_logs, start.trusted ? std::max(start.primary, start.secondary) : 0);
}

// The hive's base block; the caller has checked that the hive holds one.
std::string BaseBlock(const HiveSource& hive) {
  std::string block;
  if (!hive.Read(0, kHiveBaseBlock, &block)) block.assign(kHiveBaseBlock, '\0');
  return block;
}

// Gives the image a clean base block, made from the hive's; a log's base
// block first takes the place of one whose checksum is wrong.
void Settle(const HiveSource& hive, RecoveredImage* image, const HiveStart& start,
            const LogBaseBlock* replacement_from, std::string_view replacement,
            std::uint32_t sequence, std::uint32_t bins_size, const std::uint32_t* flags) {
  std::string block = BaseBlock(hive);
  if (!start.trusted && replacement_from != nullptr) {
    block.replace(0, kLogSector, replacement.data(), kLogSector);
    PutWord(&block, kFileTypeAt, 0);  // a primary file again
  }
  PutWord(&block, kPrimarySequenceAt, sequence);
  PutWord(&block, kSecondarySequenceAt, sequence);
  PutWord(&block, kBinsSizeAt, bins_size);
  if (flags != nullptr) PutWord(&block, kFlagsAt, *flags);
  MendHiveChecksum(block.data(), block.size());
  image->Put(0, block);
}

// A hive held whole in memory, as a recovery reads it.
class StringSource : public HiveSource {
 public:
  explicit StringSource(std::string_view hive) : hive_(hive) {}
  std::uint64_t size() const override { return hive_.size(); }
  bool Read(std::uint64_t at, std::size_t size, std::string* out) const override {
    if (at > hive_.size() || hive_.size() - at < size) return false;
    out->assign(hive_.substr(at, size));
    return true;
  }

 private:
  std::string_view hive_;
};

// The image a recovery in memory changes: the hive's own string.
class StringImage : public RecoveredImage {
 public:
  explicit StringImage(std::string* hive) : hive_(hive) {}
  void Grow(std::uint64_t length) override {
    if (hive_->size() < length) hive_->resize(length, '\0');
  }
  void Put(std::uint64_t at, std::string_view bytes) override {
    hive_->replace(at, bytes.size(), bytes.data(), bytes.size());
  }

 private:
  std::string* hive_;
};

std::string ApplyEntries(const HiveSource& hive, RecoveredImage* image, const HiveStart& start,
                         std::vector<Candidate> candidates, Recovery* recovery) {
  const std::uint32_t highest = HighestInHive(start);
  if (highest > kLastUsableSequence) return OutOfNumbers(highest);
  // A log that starts before the hive's own number holds changes the hive
  // already has.
  if (start.trusted) {
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](const Candidate& candidate) {
                                      return candidate.block.sequence < start.secondary;
                                    }),
                     candidates.end());
  }
  if (candidates.empty()) {
    return "its transaction logs hold only changes older than the hive itself (sequence " +
           std::to_string(start.secondary) +
           "): copy the .LOG1 and .LOG2 files that lie beside this hive on the disk";
  }
  std::stable_sort(
      candidates.begin(), candidates.end(),
      [](const Candidate& a, const Candidate& b) { return a.block.sequence < b.block.sequence; });
  // With no number of its own to go by, the hive takes the older log only
  // when its entries lead on into the newer one's; else the older is stale.
  if (!start.trusted && candidates.size() > 1 &&
      OnePast(HighestEntrySequence(candidates[0].log->bytes)) != candidates[1].block.sequence) {
    candidates.erase(candidates.begin());
  }

  EntryPlan plan;
  plan.next_sequence = candidates.front().block.sequence;
  plan.bins_length = hive.size() - kHiveBaseBlock;
  std::vector<std::string> used;
  for (const Candidate& candidate : candidates) {
    if (PlanLogEntries(candidate.log->bytes, &plan) > 0) used.push_back(candidate.log->name);
    if (plan.entries.empty()) {
      return "the first entry of " + candidate.log->name + " (sequence " +
             std::to_string(candidate.block.sequence) +
             ") is damaged or missing: copy the hive's .LOG1 and .LOG2 files from the disk again";
    }
  }

  const LogEntry& last = plan.entries.back();
  recovery->written.push_back({0, kHiveBaseBlock});
  for (const LogEntry& entry : plan.entries) {
    ApplyLogEntry(entry, image, &recovery->written);
    recovery->pages_applied += entry.page_count;
  }
  recovery->was_dirty = true;
  recovery->entries_applied = plan.entries.size();
  recovery->sequence = OnePast(std::max(highest, last.sequence));
  recovery->logs_used = std::move(used);
  Settle(hive, image, start, &candidates.front().block, candidates.front().log->bytes,
         recovery->sequence, last.bins_size, &last.flags);
  return "";
}

std::string ApplyDirtyVectors(const HiveSource& hive, RecoveredImage* image, const HiveStart& start,
                              const std::vector<Candidate>& candidates, Recovery* recovery) {
  std::uint64_t timestamp = start.timestamp;
  if (!start.trusted) {
    // The first bin keeps a copy of the last write time.
    std::string stamp;
    if (!hive.Read(kFirstBinTimestampAt, 8, &stamp)) return "it is too short to hold a hive bin";
    timestamp = Field(stamp, 0, 8);
  }
  const Candidate* matching = nullptr;
  for (const Candidate& candidate : candidates) {
    if (candidate.block.timestamp == timestamp) {
      matching = &candidate;
      break;
    }
  }
  if (matching == nullptr) {
    return "none of its transaction logs (" + Names(candidates) +
           ") was written at the hive's last write: copy the .LOG file that lies beside this "
           "hive on the disk";
  }
  const std::uint32_t highest = std::max(HighestInHive(start), matching->block.sequence);
  if (highest > kLastUsableSequence) return OutOfNumbers(highest);
  DirtyVectorPlan plan;
  if (!PlanDirtyVector(matching->log->bytes, matching->block.bins_size, hive, &plan)) {
    return "the dirty pages in " + matching->log->name +
           " are damaged or cut short: copy it from the disk again";
  }
  recovery->written.push_back({0, kHiveBaseBlock});
  ApplyDirtyVector(matching->log->bytes, plan, image, &recovery->written);
  recovery->was_dirty = true;
  recovery->pages_applied = plan.pages;
  recovery->entries_applied = 1;
  recovery->sequence = OnePast(highest);
  recovery->logs_used = {matching->log->name};
  Settle(hive, image, start, &matching->block, matching->log->bytes, recovery->sequence,
         plan.bins_size, nullptr);
  return "";
}

}  // namespace

std::string RecoverHive(std::string* hive, const std::vector<HiveLog>& logs, Recovery* recovery) {
  // Read from a copy, as the image is the hive itself.
  const std::string original = *hive;
  StringImage image(hive);
  return RecoverHive(StringSource(original), logs, &image, recovery);
}

std::string RecoverHive(const HiveSource& hive, const std::vector<HiveLog>& logs,
                        RecoveredImage* image, Recovery* recovery) {
  *recovery = Recovery{};
  HiveHeader header;
  std::string block;
  const HiveState state =
      hive.Read(0, kHiveBaseBlock, &block) ? ReadHiveHeader(block, &header) : HiveState::kNotAHive;
  if (state == HiveState::kNotAHive) {
    return "it is not a registry hive (it has no \"regf\" base block): copy the hive file from "
           "the disk again";
  }
  if (state == HiveState::kUsable) return "";
  HiveStart start;
  start.trusted = state == HiveState::kDirty;
  start.primary = header.primary_sequence;
  start.secondary = header.secondary_sequence;
  start.timestamp = Field(block, kTimestampAt, 8);
  if (logs.empty()) {
    return "it was not closed cleanly and no transaction log came with it: copy its .LOG1 and "
           ".LOG2 files (or its .LOG file) from beside it on the disk";
  }

  std::vector<Candidate> entry_logs;
  std::vector<Candidate> dirty_vector_logs;
  for (const HiveLog& log : logs) {
    Candidate candidate{&log, {}};
    start.in_logs = std::max(start.in_logs, HighestEntrySequence(log.bytes));
    if (!ReadLogBaseBlock(log.bytes, &candidate.block)) continue;
    start.in_logs = std::max(start.in_logs, candidate.block.sequence);
    (candidate.block.file_type == kLogEntriesLog ? entry_logs : dirty_vector_logs)
        .push_back(candidate);
  }
  if (!entry_logs.empty()) return ApplyEntries(hive, image, start, entry_logs, recovery);
  if (!dirty_vector_logs.empty()) {
    return ApplyDirtyVectors(hive, image, start, dirty_vector_logs, recovery);
  }
  std::string names;
  for (const HiveLog& log : logs) names += (names.empty() ? "" : ", ") + log.name;
  return "none of its transaction logs (" + names +
         ") holds a base block Windows finished writing: copy them from the disk again";
}

}  // namespace vendrel::platform
