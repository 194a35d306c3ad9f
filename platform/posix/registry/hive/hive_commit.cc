#include "platform/posix/registry/hive/hive_commit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/files/crash_point.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_log_files.h"
#include "platform/posix/registry/hive/log_base_block.h"
#include "platform/posix/registry/hive/log_entries.h"
#include "platform/posix/registry/hive/log_writer.h"

namespace vendrel::platform {
namespace {

// Windows Vista, the first to keep two logs (.LOG1, .LOG2) beside a hive.
constexpr std::uint32_t kFirstDualLogBuild = 6000;
constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
// From 1601 to 1970, in the 100-nanosecond ticks of a FILETIME.
constexpr std::uint64_t kFileTimeAt1970 = 116444736000000000ULL;

enum class LogFormat { kEntries, kDirtyVector };

// The hive as the change leaves it.
struct NewHive {
  std::string base_block;
  std::vector<LoggedPage> pages;  // of the bins, in order; views into the change's records
  std::uint32_t bins_size = 0;
  std::uint64_t length = 0;
};

struct LogChoice {
  const HiveLogFile* existing = nullptr;  // else a new log, named name
  std::string name;
  LogFormat format = LogFormat::kDirtyVector;
};

std::uint32_t Word(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Field(bytes, at, 4));
}

void Put(std::string* block, std::size_t at, std::uint64_t value, int size) {
  std::string field;
  PutField(&field, value, size);
  block->replace(at, field.size(), field);
}

int ReadBaseBlock(const HivePages& hive, std::string* block) {
  return hive.Read(0, kHiveBaseBlock, block) ? 0 : errno;
}

int TakeNewHive(const ChangedPages& changed, const HivePages& content, NewHive* hive) {
  std::string_view records = changed.records;
  std::uint64_t at = 0;
  for (std::string_view bytes; TakePageRecord(&records, &at, &bytes);) {
    if (at == 0) {
      hive->base_block.assign(bytes.substr(0, kHiveBaseBlock));
    } else if (at >= kHiveBaseBlock) {
      hive->pages.push_back({static_cast<std::uint32_t>(at - kHiveBaseBlock), bytes});
    }
  }
  if (hive->base_block.size() != kHiveBaseBlock) {
    if (int error = ReadBaseBlock(content, &hive->base_block); error != 0) return error;
  }
  hive->bins_size = Word(hive->base_block, kBinsSizeAt);
  // What lies behind the bins is no part of the hive, for a log or a loader.
  auto behind = [&](const LoggedPage& page) {
    return std::uint64_t{page.offset} + page.bytes.size() > hive->bins_size;
  };
  hive->pages.erase(std::remove_if(hive->pages.begin(), hive->pages.end(), behind),
                    hive->pages.end());
  std::sort(hive->pages.begin(), hive->pages.end(),
            [](const LoggedPage& a, const LoggedPage& b) { return a.offset < b.offset; });
  for (const LoggedPage& page : hive->pages) {
    if (page.offset % kComparedPage != 0 || page.bytes.size() % kComparedPage != 0) return EIO;
  }
  hive->length = std::max<std::uint64_t>(changed.length, kHiveBaseBlock + hive->bins_size);
  return 0;
}

bool BaseBlockOf(const HiveLogFile& log, LogBaseBlock* block) {
  return ReadLogBaseBlock(log.log.bytes, block);
}

// The format Windows on that disk reads: the old one before Windows 8.1;
// else its logs' own; without any, the new one from Windows 8.1 on, else
// (where it cannot be told) the old one, which every Windows reads.
LogFormat FormatFor(const std::vector<HiveLogFile>& logs, std::optional<std::uint32_t> build) {
  if (build && *build < kFirstLogEntriesBuild) return LogFormat::kDirtyVector;
  bool old_format = false;
  for (const HiveLogFile& log : logs) {
    LogBaseBlock block;
    if (!BaseBlockOf(log, &block)) continue;
    if (block.file_type == kLogEntriesLog) return LogFormat::kEntries;
    old_format = true;
  }
  if (old_format) return LogFormat::kDirtyVector;
  return build && *build >= kFirstLogEntriesBuild ? LogFormat::kEntries : LogFormat::kDirtyVector;
}

// The log Windows would write next: of the two it keeps, the first for the
// old format, and for the new one (where it swaps between them) the one
// that does not hold the latest entries. A .LOG alone is used where it
// stands alone; a hive without logs gets the one its Windows names.
LogChoice ChooseLog(const std::vector<HiveLogFile>& logs, const std::string& hive_name,
                    const std::function<std::optional<std::uint32_t>()>& windows_build) {
  const std::optional<std::uint32_t> build = windows_build ? windows_build() : std::nullopt;
  LogChoice choice;
  choice.format = FormatFor(logs, build);
  std::vector<const HiveLogFile*> pair;
  const HiveLogFile* single = nullptr;
  for (const HiveLogFile& log : logs) {
    if (log.slot == LogSlot::kSingle) {
      single = &log;
    } else {
      pair.push_back(&log);
    }
  }
  if (pair.empty() && single == nullptr) {
    const bool one_log = build && *build < kFirstDualLogBuild;
    choice.name = LogNameOf(hive_name, one_log ? LogSlot::kSingle : LogSlot::kFirst);
    return choice;
  }
  if (pair.empty()) {
    choice.existing = single;
  } else if (pair.size() == 1 || choice.format == LogFormat::kDirtyVector) {
    choice.existing = pair.front();
  } else {
    auto latest = [](const HiveLogFile* log) {
      LogBaseBlock block;
      return BaseBlockOf(*log, &block) && block.file_type == kLogEntriesLog
                 ? std::int64_t{block.sequence}
                 : std::int64_t{-1};
    };
    choice.existing = latest(pair[1]) < latest(pair[0]) ? pair[1] : pair[0];
  }
  choice.name = choice.existing->log.name;
  return choice;
}

// The highest sequence number and last write time the hive (its base
// block as it stands before the change) and its logs carry.
void Highest(std::string_view block, const std::vector<HiveLogFile>& logs, std::uint32_t* sequence,
             std::uint64_t* timestamp) {
  *sequence = std::max(Word(block, kPrimarySequenceAt), Word(block, kSecondarySequenceAt));
  *timestamp = Field(block, kTimestampAt, 8);
  for (const HiveLogFile& log : logs) {
    LogBaseBlock base;
    if (BaseBlockOf(log, &base)) {
      *sequence = std::max(*sequence, base.sequence);
      *timestamp = std::max(*timestamp, base.timestamp);
    }
    *sequence = std::max(*sequence, log.highest_entry);
  }
}

std::uint64_t FileTimeNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return kFileTimeAt1970 + static_cast<std::uint64_t>(now.tv_sec) * 10000000ULL +
         static_cast<std::uint64_t>(now.tv_nsec) / 100;
}

std::string Marked(std::string block, std::uint32_t primary, std::uint32_t secondary,
                   std::uint64_t timestamp) {
  Put(&block, kPrimarySequenceAt, primary, 4);
  Put(&block, kSecondarySequenceAt, secondary, 4);
  Put(&block, kTimestampAt, timestamp, 8);
  MendHiveChecksum(block.data(), block.size());
  return block;
}

int WriteAndFlush(int fd, std::string_view bytes, std::uint64_t at) {
  int error = WriteAll(fd, bytes, static_cast<off_t>(at));
  return error != 0 ? error : FlushFile(fd);
}

// Writes what the logs put in the recovered hive (its base block last, as
// they leave it: clean, past their entries) into the hive file, which those
// logs cover until the base block is in.
int Reconcile(int hive, const HivePages& image, std::vector<Stretch> stretches) {
  // Stretches that touch or overlap are copied as one.
  std::sort(stretches.begin(), stretches.end(),
            [](const Stretch& a, const Stretch& b) { return a.at < b.at; });
  std::vector<Stretch> runs;
  for (const Stretch& stretch : stretches) {
    const std::uint64_t begin = std::max<std::uint64_t>(stretch.at, kHiveBaseBlock);
    const std::uint64_t end = stretch.at + stretch.size;
    if (end <= begin) continue;
    if (!runs.empty() && begin <= runs.back().at + runs.back().size) {
      runs.back().size = std::max(runs.back().size, end - runs.back().at);
    } else {
      runs.push_back({begin, end - begin});
    }
  }
  std::string buffer;
  for (const Stretch& run : runs) {
    for (std::uint64_t at = run.at; at < run.at + run.size; at += buffer.size()) {
      if (!image.Read(at, std::min<std::uint64_t>(kCopyChunk, run.at + run.size - at), &buffer)) {
        return errno;
      }
      if (int error = WriteAll(hive, buffer, static_cast<off_t>(at)); error != 0) return error;
    }
  }
  if (int error = FlushFile(hive); error != 0) return error;
  std::string block;
  if (int error = ReadBaseBlock(image, &block); error != 0) return error;
  return WriteAndFlush(hive, block, 0);
}

int WriteLog(const HiveCommit& commit, const LogChoice& choice, const std::string& content) {
  if (choice.existing != nullptr) return WriteAndFlush(choice.existing->fd.get(), content, 0);
  struct stat hive;
  if (fstat(commit.fd, &hive) != 0) return errno;
  const int folder = commit.placed->folder.get();
  UniqueFd log(openat(folder, choice.name.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, hive.st_mode & 0777));
  CrashPointAfter("open(log)");
  if (!log) return errno;
  // The log is the hive's: its owner, group and mode, where the user may
  // give them.
  (void)!fchown(log.get(), hive.st_uid, hive.st_gid);
  (void)!fchmod(log.get(), hive.st_mode & 0777);
  if (int error = WriteAndFlush(log.get(), content, 0); error != 0) {
    unlinkat(folder, choice.name.c_str(), 0);
    CrashPointAfter("unlink(log)");
    return error;
  }
  // The log's name is on the disk before the hive says it needs it.
  FlushFolder(folder);
  return 0;
}

// Writes the pages, a run of adjacent ones at a time.
int WritePages(int fd, const std::vector<LoggedPage>& pages) {
  std::string run;
  std::uint64_t run_at = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (run.empty()) run_at = kHiveBaseBlock + pages[i].offset;
    run.append(pages[i].bytes);
    const bool last =
        i + 1 == pages.size() || pages[i + 1].offset != pages[i].offset + pages[i].bytes.size();
    if (!last) continue;
    if (int error = WriteAll(fd, run, static_cast<off_t>(run_at)); error != 0) return error;
    run.clear();
  }
  return FlushFile(fd);
}

std::string TooLarge(const char* what) {
  return std::string("was not changed: ") + what + " would grow past " +
         std::to_string(kLargestHive >> 20) + " MiB, the largest this program reads";
}

}  // namespace

CommitOutcome CommitThroughLog(const HiveCommit& commit, const ChangedPages& changed) {
  const HivePages& content = *commit.content;
  NewHive hive;
  if (int error = TakeNewHive(changed, content, &hive); error != 0) return {error, {}};
  if (hive.length > kLargestHive) return {0, TooLarge("the hive")};
  std::vector<HiveLogFile> logs;
  // A recovered hive's number lies past every entry its logs hold already.
  const LogUse use = content.recovered() ? LogUse::kCommitRecovered : LogUse::kCommit;
  if (std::string refused = OpenHiveLogs(*commit.placed, use, &logs); !refused.empty()) {
    return {0, refused};
  }
  // The base block as it stands once a recovered hive is reconciled.
  std::string block;
  if (int error = ReadBaseBlock(content, &block); error != 0) return {error, {}};
  std::uint32_t highest = 0;
  std::uint64_t last_written = 0;
  Highest(block, logs, &highest, &last_written);
  // The entry and the clean hive past it must stay within the numbers a
  // loader takes.
  if (highest > kLastUsableSequence - 2) {
    return {0, "was not changed: it or its transaction logs carry sequence number " +
                   std::to_string(highest) + ", the end of the numbers a hive can take"};
  }
  const LogChoice choice = ChooseLog(logs, commit.placed->name, commit.windows_build);
  if (choice.existing != nullptr && !choice.existing->writable) {
    return {0, "its transaction log " + choice.name + " cannot be written: access is denied"};
  }
  // The entry's number lies past every one the hive and its logs hold, and
  // the hive, while dirty, names it: no other log's entries are applied.
  const std::uint32_t entry = highest + 1;
  LogHead head{hive.base_block, entry, Field(hive.base_block, kTimestampAt, 8), hive.bins_size};
  if (choice.format == LogFormat::kDirtyVector) {
    // An old-format log goes with the hive whose last write time it holds.
    head.timestamp = std::max(FileTimeNow(), last_written + 1);
  }
  const std::string log = choice.format == LogFormat::kEntries ? LogOfEntry(head, hive.pages)
                                                               : LogOfDirtyVector(head, hive.pages);
  if (log.size() > kLargestHive) return {0, TooLarge("its transaction log")};

  if (content.recovered()) {
    if (int error = Reconcile(commit.fd, content, content.written()); error != 0) {
      return {error, {}};
    }
  }
  if (int error = WriteLog(commit, choice, log); error != 0) return {error, {}};
  const std::uint64_t timestamp =
      choice.format == LogFormat::kDirtyVector ? head.timestamp : Field(block, kTimestampAt, 8);
  if (int error = WriteAndFlush(commit.fd, Marked(block, entry + 1, entry, timestamp), 0);
      error != 0) {
    return {error, {}};
  }
  if (int error = WritePages(commit.fd, hive.pages); error != 0) return {error, {}};
  if (int error = WriteAndFlush(commit.fd,
                                Marked(hive.base_block, entry + 1, entry + 1, head.timestamp), 0);
      error != 0) {
    return {error, {}};
  }
  return {};
}

}  // namespace vendrel::platform
