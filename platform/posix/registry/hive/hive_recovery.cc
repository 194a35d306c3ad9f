#include "platform/posix/registry/hive/hive_recovery.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/posix/files/file_io.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_log_files.h"

namespace vendrel::platform {
namespace {

// A file in memory that a recovery changes; the first failure is kept.
class FileImage : public RecoveredImage {
 public:
  explicit FileImage(int fd) : fd_(fd) {}
  void Grow(std::uint64_t length) override {
    // A hive grown past what this program reads could be neither read
    // back nor committed.
    past_cap_ = past_cap_ || length > kLargestHive;
    struct stat status;
    if (error_ != 0 || past_cap_ || fstat(fd_, &status) != 0 ||
        static_cast<std::uint64_t>(status.st_size) >= length) {
      return;
    }
    if (ftruncate(fd_, static_cast<off_t>(length)) != 0) error_ = errno;
  }
  // Memory, not the disk: no crash point stands between these writes.
  void Put(std::uint64_t at, std::string_view bytes) override {
    while (error_ == 0 && !past_cap_ && !bytes.empty()) {
      const ssize_t wrote = pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(at));
      if (wrote <= 0) {
        error_ = wrote < 0 ? errno : ENOSPC;
        if (error_ == EINTR) error_ = 0;
        continue;
      }
      bytes.remove_prefix(static_cast<std::size_t>(wrote));
      at += static_cast<std::uint64_t>(wrote);
    }
  }
  int error() const { return error_; }
  bool past_cap() const { return past_cap_; }

 private:
  int fd_;
  int error_ = 0;
  bool past_cap_ = false;
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
  if (changes.past_cap()) {
    return "its transaction logs would grow it past " + std::to_string(kLargestHive >> 20) +
           " MiB, the largest hive this program reads";
  }
  if (changes.error() != 0) return std::strerror(changes.error());
  if (recovery->was_dirty) *recovered = std::move(image);
  return std::string();
}

}  // namespace vendrel::platform
