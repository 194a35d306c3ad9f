#include "platform/posix/registry/hive/hive_recovery.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "platform/posix/files/file_io.h"
#include "platform/posix/files/place_beneath.h"
#include "platform/posix/registry/hive/hive_header.h"

namespace vendrel::platform {
namespace {

constexpr std::array<const char*, 3> kSuffixes = {".LOG1", ".LOG2", ".LOG"};

std::string Unusable(const std::string& log, const std::string& why) {
  return "its transaction log " + log + " " + why;
}

}  // namespace

std::string ReadHiveLogs(const PlacedFile& hive, std::vector<HiveLog>* logs) {
  logs->clear();
  std::array<std::string, kSuffixes.size()> found;
  for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
    std::vector<std::string> names;
    if (!NamesIgnoringCase(hive.folder.get(), hive.name + kSuffixes[i], &names)) {
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

namespace {

// A file in memory that a recovery changes; the first failure is kept.
class FileImage : public RecoveredImage {
 public:
  explicit FileImage(int fd) : fd_(fd) {}
  void Grow(std::uint64_t length) override {
    struct stat status;
    if (error_ != 0 || fstat(fd_, &status) != 0 ||
        static_cast<std::uint64_t>(status.st_size) >= length) {
      return;
    }
    if (ftruncate(fd_, static_cast<off_t>(length)) != 0) error_ = errno;
  }
  void Put(std::uint64_t at, std::string_view bytes) override {
    if (error_ == 0) error_ = WriteAll(fd_, bytes, static_cast<off_t>(at));
  }
  int error() const { return error_; }

 private:
  int fd_;
  int error_ = 0;
};

// Copies the file open as from, length bytes, into the file open as to, in
// the kernel: a large hive is never held in this process's memory for it.
int CopyInto(int from, int to, std::size_t length) {
  off_t at = 0;
  while (static_cast<std::size_t>(at) < length) {
    const ssize_t sent = sendfile(to, from, &at, length - static_cast<std::size_t>(at));
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return errno;
    if (sent == 0) return EIO;  // cut short since it was looked at
  }
  return 0;
}

struct Unmap {
  std::size_t length;
  void operator()(void* start) const { munmap(start, length); }
};

}  // namespace

std::string RecoverHiveFile(const PlacedFile& hive, int fd, UniqueFd* recovered,
                            Recovery* recovery) {
  *recovery = Recovery{};
  std::vector<HiveLog> logs;
  if (std::string unusable = ReadHiveLogs(hive, &logs); !unusable.empty()) return unusable;
  // The hive is copied into memory of its own first: nobody can cut it
  // short there while it is read, and the logs' pages are put in the copy.
  struct stat status;
  if (fstat(fd, &status) != 0) return std::strerror(errno);
  const auto length = static_cast<std::size_t>(status.st_size);
  if (length > kLargestHive) return std::strerror(EOVERFLOW);
  if (length < kHiveBaseBlock) return "it is too short to be a registry hive";
  UniqueFd image(memfd_create("vendrel-recovered-hive", MFD_CLOEXEC));
  if (!image) return std::strerror(errno);
  if (int error = CopyInto(fd, image.get(), length); error != 0) return std::strerror(error);
  void* mapped = mmap(nullptr, length, PROT_READ, MAP_SHARED, image.get(), 0);
  if (mapped == MAP_FAILED) return std::strerror(errno);
  std::unique_ptr<void, Unmap> view(mapped, Unmap{length});
  FileImage changes(image.get());
  std::string refused = RecoverHive(std::string_view(static_cast<const char*>(mapped), length),
                                    logs, &changes, recovery);
  if (!refused.empty()) return refused;
  if (changes.error() != 0) return std::strerror(changes.error());
  if (recovery->was_dirty) *recovered = std::move(image);
  return std::string();
}

int AddRecoveredPages(int image, const std::vector<Stretch>& written, ChangedPages* changed) {
  std::set<std::uint64_t> pages;
  std::string_view records = changed->records;
  std::uint64_t at = 0;
  for (std::string_view bytes; TakePageRecord(&records, &at, &bytes);) pages.insert(at);
  std::string page(kComparedPage, '\0');
  for (const Stretch& stretch : written) {
    for (std::uint64_t start = stretch.at / kComparedPage * kComparedPage;
         start < stretch.at + stretch.size; start += kComparedPage) {
      if (!pages.insert(start).second) continue;
      const ssize_t got = pread(image, page.data(), page.size(), static_cast<off_t>(start));
      if (got < 0) return errno;
      AddChangedPage(changed, start, std::string_view(page.data(), static_cast<std::size_t>(got)));
    }
  }
  return 0;
}

}  // namespace vendrel::platform
