#include "platform/posix/registry/hive/hive_recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "platform/posix/files/file_io.h"

namespace vendrel::platform {
namespace {

constexpr std::array<const char*, 3> kSuffixes = {".LOG1", ".LOG2", ".LOG"};

struct CloseDir {
  void operator()(DIR* dir) const { closedir(dir); }
};

std::string Unusable(const std::string& log, const std::string& why) {
  return "its transaction log " + log + " " + why;
}

}  // namespace

std::string ReadHiveLogs(const PlacedFile& hive, std::vector<HiveLog>* logs) {
  logs->clear();
  UniqueFd readable = ReadableFolder(hive.folder.get());
  if (!readable) {
    return std::string("lies in a folder that cannot be listed, so its transaction logs cannot "
                       "be found: ") +
           std::strerror(errno);
  }
  std::unique_ptr<DIR, CloseDir> dir(fdopendir(readable.get()));
  if (!dir) return std::string("lies in a folder that cannot be listed: ") + std::strerror(errno);
  readable.Release();  // the listing owns it now
  std::array<std::string, kSuffixes.size()> found;
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
      if (!EqualsIgnoringCase(name, hive.name + kSuffixes[i])) continue;
      // Which of two such names Windows would take cannot be told.
      if (!found[i].empty()) {
        return "has two transaction logs, " + std::min(found[i], name) + " and " +
               std::max(found[i], name) +
               ", whose names differ only in letter case: remove or rename the one that is "
               "not its log";
      }
      found[i] = name;
    }
  }
  for (const std::string& name : found) {
    if (name.empty()) continue;
    PlacedFile log{UniqueFd(fcntl(hive.folder.get(), F_DUPFD_CLOEXEC, 0)), name, ""};
    if (!log.folder) return Unusable(name, std::string("cannot be read: ") + std::strerror(errno));
    UniqueFd fd;
    struct stat status;
    if (int error = OpenPlaced(log, O_RDONLY, &fd, &status); error != 0) {
      return Unusable(name, error == ENODEV || error == EISDIR
                                ? "is not a regular file (a link, a folder or a special file), "
                                  "and is never opened: put the log itself in its place"
                                : std::string("cannot be read: ") + std::strerror(error));
    }
    HiveLog read{name, {}};
    if (int error = ReadToEnd(fd.get(), &read.bytes, kLargestHive); error != 0) {
      return Unusable(name, error == EOVERFLOW
                                ? "is larger than this program reads (" +
                                      std::to_string(kLargestHive >> 20) + " MiB)"
                                : std::string("cannot be read: ") + std::strerror(error));
    }
    logs->push_back(std::move(read));
  }
  return std::string();
}

std::string RecoverHiveFile(const PlacedFile& hive, int fd, UniqueFd* recovered,
                            Recovery* recovery) {
  *recovery = Recovery{};
  std::vector<HiveLog> logs;
  if (std::string unusable = ReadHiveLogs(hive, &logs); !unusable.empty()) return unusable;
  std::string content;
  if (lseek(fd, 0, SEEK_SET) != 0) return std::strerror(errno);
  if (int error = ReadToEnd(fd, &content, kLargestHive); error != 0) return std::strerror(error);
  if (std::string refused = RecoverHive(&content, logs, recovery); !refused.empty()) {
    return refused;
  }
  logs.clear();
  if (!recovery->was_dirty) return std::string();
  UniqueFd image(memfd_create("vendrel-recovered-hive", MFD_CLOEXEC));
  if (!image) return std::strerror(errno);
  if (int error = WriteAll(image.get(), content, 0); error != 0) return std::strerror(error);
  *recovered = std::move(image);
  return std::string();
}

}  // namespace vendrel::platform
