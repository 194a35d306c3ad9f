#include "platform/posix/registry/hive/hive_log_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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

// Reads the base block of the log open as fd into *base, and, where asked,
// the highest number among its entries that hold, one entry in memory at a
// time.
int ScanEntries(int fd, const struct stat& status, bool entries, std::string* base,
                std::uint32_t* highest) {
  const auto length = static_cast<std::uint64_t>(status.st_size);
  if (length > kLargestHive) return EOVERFLOW;
  auto read_at = [fd](std::uint64_t at, std::size_t size, std::string* out) {
    out->resize(size);
    for (std::size_t got = 0; got < size;) {
      const ssize_t read = pread(fd, out->data() + got, size - got, static_cast<off_t>(at + got));
      if (read < 0 && errno == EINTR) continue;
      if (read <= 0) return read < 0 ? errno : EIO;
      got += static_cast<std::size_t>(read);
    }
    return 0;
  };
  *highest = 0;
  if (int error =
          read_at(0, static_cast<std::size_t>(std::min<std::uint64_t>(length, kLogSector)), base);
      error != 0) {
    return error;
  }
  std::string entry;
  for (std::uint64_t at = kLogSector; entries && at <= length && length - at >= kLogEntryHead;) {
    if (int error = read_at(at, kLogEntryHead, &entry); error != 0) return error;
    const std::uint64_t size = Field(entry, 4, 4);
    if (entry.compare(0, 4, "HvLE") != 0 || size < kLogEntryHead || size % kLogSector != 0 ||
        size > length - at) {
      break;
    }
    if (int error = read_at(at, static_cast<std::size_t>(size), &entry); error != 0) return error;
    LogEntry read;
    if (ReadLogEntry(entry, 0, &read)) *highest = std::max(*highest, read.sequence);
    at += size;
  }
  return 0;
}

// Opens the log named name beside the hive, for writing too where the use
// asks and the user may.
std::string OpenLog(const PlacedFile& hive, const std::string& name, LogUse use, HiveLogFile* log) {
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
  int read = 0;
  if (use == LogUse::kRead) {
    read = ReadToEnd(log->fd.get(), &log->log.bytes, kLargestHive);
    log->highest_entry = HighestEntrySequence(log->log.bytes);
  } else {
    read = ScanEntries(log->fd.get(), status, use == LogUse::kCommit, &log->log.bytes,
                       &log->highest_entry);
  }
  if (read != 0) {
    return Unusable(name, read == EOVERFLOW
                              ? "is larger than this program reads (" +
                                    std::to_string(kLargestHive >> 20) + " MiB)"
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
  for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
    if (found[i].empty()) continue;
    HiveLogFile log;
    log.slot = kSuffixes[i].slot;
    if (std::string unusable = OpenLog(hive, found[i], use, &log); !unusable.empty()) {
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
