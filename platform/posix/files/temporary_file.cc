#include "platform/posix/files/temporary_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/posix/files/crash_point.h"

namespace vendrel::platform {
namespace {

constexpr std::string_view kMark = ".vendrel-";
constexpr std::size_t kRandomLength = 6;
constexpr std::size_t kNameMax = 255;
constexpr int kAttempts = 100;

bool IsAlphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string RandomSuffix() {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[kRandomLength] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // Only the uniqueness matters, and O_EXCL guards that: any bytes do.
    for (std::size_t i = 0; i < kRandomLength; ++i) {
      bytes[i] = static_cast<unsigned char>(getpid() + static_cast<int>(i) * 7);
    }
  }
  std::string suffix;
  for (unsigned char byte : bytes) suffix += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return suffix;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsTemporaryName(std::string_view name) {
  const std::size_t tail = kMark.size() + kRandomLength;
  if (name.size() <= tail || name.front() != '.') return false;
  std::string_view end = name.substr(name.size() - tail);
  if (end.substr(0, kMark.size()) != kMark) return false;
  for (char c : end.substr(kMark.size())) {
    if (!IsAlphanumeric(c)) return false;
  }
  return true;
}

int CreateTemporary(const std::string& target, mode_t mode, TemporaryFile* temporary) {
  const std::string folder = DirectoryOf(target);
  const std::size_t room = kNameMax - 1 - kMark.size() - kRandomLength;
  std::string stem = folder;
  stem.append("/.").append(BaseNameOf(target).substr(0, room)).append(kMark);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string path = stem + RandomSuffix();
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    CrashPointAfter("open(temporary)");
    if (!fd) {
      if (errno == EEXIST) continue;
      return errno;
    }
    // A run clearing leftovers may have taken the new file for a dead one
    // before the lock: then it is gone or going, and another is made.
    struct stat st;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || fstat(fd.get(), &st) != 0 || st.st_nlink == 0) {
      continue;
    }
    temporary->fd = std::move(fd);
    temporary->path = std::move(path);
    return 0;
  }
  return EEXIST;
}

void RemoveTemporary(TemporaryFile* temporary) {
  if (temporary->path.empty()) return;
  unlink(temporary->path.c_str());
  CrashPointAfter("unlink");
  temporary->fd.Close();
  temporary->path.clear();
}

void ClearDeadTemporaries(const std::string& folder) {
  struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, CloseDir> dir(opendir(folder.c_str()));
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir.get())) {
    if (IsTemporaryName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  const int at = dirfd(dir.get());
  for (const std::string& name : names) {
    UniqueFd fd(
        openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat held;
    if (!fd || fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) continue;
    // A live run holds its temporary file locked.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    struct stat now;
    if (fstatat(at, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_ino != held.st_ino ||
        now.st_dev != held.st_dev) {
      continue;
    }
    unlinkat(at, name.c_str(), 0);
  }
}

}  // namespace vendrel::platform
