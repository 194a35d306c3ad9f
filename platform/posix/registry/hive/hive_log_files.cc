#include "platform/posix/registry/hive/hive_log_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/files/place_beneath.h"
#include "platform/posix/registry/hive/log_base_block.h"
#include "platform/posix/registry/hive/log_entries.h"

namespace vendrel::platform {
namespace {

struct Suffix {
  LogSlot slot;
  const char* text;
};
constexpr std::array<Suffix, 3> kSuffixes = {
    {{LogSlot::kFirst, ".LOG1"}, {LogSlot::kSecond, ".LOG2"}, {LogSlot::kSingle, ".LOG"}}};

std::string Unusable(const std::string& log, const std::string& why) {
  return "its transaction log " + log + " " + why;
}

// Reads of the log open as fd what its use needs: its base block; for a
// commit, the highest number among its entries that hold, one entry in
// memory at a time; for a recovery, the base block and what follows as far
// as its entries (or an old-format log's dirty pages) reach, no more than
// *room bytes, which it takes from *room: a log far longer than what it
// holds (a sparse file) is never read whole.
int ReadLog(int fd, const struct stat& status, LogUse use, std::uint64_t* room, std::string* bytes,
            std::uint32_t* highest) {
  const auto length = static_cast<std::uint64_t>(status.st_size);
  if (length > kLargestHive) return EOVERFLOW;
  // Reads size bytes from at to the end of *out.
  auto read_at = [fd](std::uint64_t at, std::uint64_t size, std::string* out) {
    const std::size_t from = out->size();
    out->resize(from + static_cast<std::size_t>(size));
    return ReadAt(fd, out->data() + from, static_cast<std::size_t>(size), static_cast<off_t>(at));
  };
  *highest = 0;
  bytes->clear();
  if (int error = read_at(0, std::min<std::uint64_t>(length, kLogSector), bytes); error != 0) {
    return error;
  }
  LogBaseBlock block;
  const bool usable = ReadLogBaseBlock(*bytes, &block) && block.bins_size <= kLargestHive;
  if (use == LogUse::kRead && usable && block.file_type == kDirtyVectorLog) {
    // The bitmap of the hive's 512-byte pages, then as many pages as it marks.
    std::string bits;
    const std::uint64_t has = std::min<std::uint64_t>(block.bins_size / kLogSector / 8,
                                                      length - std::min(length, kLogSector + 4));
    if (int error = read_at(kLogSector + 4, has, &bits); error != 0) return error;
    std::uint64_t pages = 0;
    for (unsigned char byte : bits) pages += std::bitset<8>(byte).count();
    const std::uint64_t end =
        std::min(length, kLogSector + (4 + has + kLogSector - 1) / kLogSector * kLogSector +
                             pages * kLogSector);
    if (end > *room) return EOVERFLOW;
    *room -= end;
    bytes->clear();
    return read_at(0, end, bytes);
  }
  // A recovery holds the entries of a log it may use, up to the first that
  // fails; the numbers of the others count all the same, as no number in a
  // log may come round again. An entry's size steps over it.
  bool hold = use == LogUse::kRead && usable;
  std::uint32_t counted = 0;
  std::string entry;
  for (std::uint64_t at = kLogSector, size = 0;
       use != LogUse::kCommitRecovered && at <= length && length - at >= kLogEntryHead;
       at += size) {
    entry.clear();
    if (int error = read_at(at, kLogEntryHead, &entry); error != 0) return error;
    size = Field(entry, 4, 4);
    if (entry.compare(0, 4, "HvLE") != 0 || size < kLogEntryHead || size % kLogSector != 0 ||
        size > length - at) {
      break;
    }
    const bool holds = LogEntryHeadHolds(entry);
    hold = hold && holds;
    if (hold) {
      if (size > *room) return EOVERFLOW;
      *room -= size;
      if (int error = read_at(at, size, bytes); error != 0) return error;
      continue;
    }
    if (!holds) continue;
    entry.clear();
    if (int error = read_at(at, size, &entry); error != 0) return error;
    if (LogEntry read; ReadLogEntry(entry, 0, &read)) counted = std::max(counted, read.sequence);
  }
  *highest = std::max(counted, HighestEntrySequence(*bytes));
  return 0;
}

// Opens the log named name beside the hive, for writing too where the use
// asks and the user may.
std::string OpenLog(const PlacedFile& hive, const std::string& name, LogUse use,
                    std::uint64_t* room, HiveLogFile* log) {
  PlacedFile placed{UniqueFd(fcntl(hive.folder.get(), F_DUPFD_CLOEXEC, 0)), name, ""};
  if (!placed.folder) return Unusable(name, std::string("cannot be read: ") + std::strerror(errno));
  struct stat status;
  log->writable = use != LogUse::kRead && OpenPlaced(placed, O_RDWR, &log->fd, &status) == 0;
  int error = log->writable ? 0 : OpenPlaced(placed, O_RDONLY, &log->fd, &status);
  if (error != 0) {
    return Unusable(name, error == ENODEV || error == EISDIR
                              ? "is not a regular file (a link, a folder or a special file), "
                                "and is never opened: put the log itself in its place"
                              : std::string("cannot be read: ") + std::strerror(error));
  }
  // Writing one name of several would change another file of the disk too.
  if (use != LogUse::kRead && status.st_nlink > 1) {
    return Unusable(name,
                    "has more than one name (a hard link), and is never written: replace it with "
                    "a copy of its own");
  }
  log->log.name = name;
  if (int read = ReadLog(log->fd.get(), status, use, room, &log->log.bytes, &log->highest_entry);
      read != 0) {
    return Unusable(name, read == EOVERFLOW
                              ? "is larger than this program reads (" +
                                    std::to_string(kLargestHive >> 20) +
                                    " MiB, the logs of a hive all told)"
                              : std::string("cannot be read: ") + std::strerror(read));
  }
  return std::string();
}

}  // namespace

std::string OpenHiveLogs(const PlacedFile& hive, LogUse use, std::vector<HiveLogFile>* logs) {
  logs->clear();
  std::array<std::string, kSuffixes.size()> found;
  for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
    std::vector<std::string> names;
    if (!NamesIgnoringCase(hive.folder.get(), hive.name + kSuffixes[i].text, &names)) {
      return std::string(
                 "lies in a folder that cannot be listed, so its transaction logs cannot "
                 "be found: ") +
             std::strerror(errno);
    }
    // Which of two such names Windows would take cannot be told.
    if (names.size() > 1) {
      return "has two transaction logs, " + names[0] + " and " + names[1] +
             ", whose names differ only in letter case: remove or rename the one that is "
             "not its log";
    }
    if (!names.empty()) found[i] = names.front();
  }
  std::uint64_t room = kLargestHive;  // what a recovery may hold of the logs
  for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
    if (found[i].empty()) continue;
    HiveLogFile log;
    log.slot = kSuffixes[i].slot;
    if (std::string unusable = OpenLog(hive, found[i], use, &room, &log); !unusable.empty()) {
      return unusable;
    }
    logs->push_back(std::move(log));
  }
  return std::string();
}

std::string ReadHiveLogs(const PlacedFile& hive, std::vector<HiveLog>* logs) {
  std::vector<HiveLogFile> files;
  std::string unusable = OpenHiveLogs(hive, LogUse::kRead, &files);
  logs->clear();
  for (HiveLogFile& file : files) logs->push_back(std::move(file.log));
  return unusable;
}

std::string LogNameOf(const std::string& hive_name, LogSlot slot) {
  // Windows loads a profile's hive by a name it spells in lower case.
  std::string name = EqualsIgnoringCase(hive_name, "NTUSER.DAT") ? "ntuser.dat" : hive_name;
  for (const Suffix& suffix : kSuffixes) {
    if (suffix.slot == slot) name += suffix.text;
  }
  return name;
}

}  // namespace vendrel::platform
