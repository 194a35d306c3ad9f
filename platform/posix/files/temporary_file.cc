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
#include "platform/posix/files/placed_file.h"

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

std::string TemporaryName(const std::string& target) {
  const std::size_t room = kNameMax - 1 - kMark.size() - kRandomLength;
  return "." + target.substr(0, room) + std::string(kMark) + RandomSuffix();
}

// O_TMPFILE refused as unknown to the kernel or the file system.
bool Unsupported(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

}  // namespace

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

int CreateTemporary(int folder, const std::string& target, mode_t mode, TemporaryFile* temporary) {
  temporary->folder = folder;
  temporary->target = target;
  temporary->name.clear();
  UniqueFd fd(openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
  CrashPointAfter("open(temporary)");
  if (fd) {
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno;
    temporary->fd = std::move(fd);
    return 0;
  }
  if (!Unsupported(errno)) return errno;
  // A file system without unnamed files: a new name, made here and nowhere
  // else (O_EXCL never follows a link).
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = TemporaryName(target);
    UniqueFd named(openat(folder, name.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, mode));
    CrashPointAfter("open(temporary)");
    if (!named) {
      if (errno == EEXIST) continue;
      return errno;
    }
    // A run clearing leftovers may have taken the new file for a dead one
    // before the lock: then it is gone or going, and another is made.
    struct stat st;
    if (flock(named.get(), LOCK_EX | LOCK_NB) != 0 || fstat(named.get(), &st) != 0 ||
        st.st_nlink == 0) {
      continue;
    }
    temporary->fd = std::move(named);
    temporary->name = std::move(name);
    return 0;
  }
  return EEXIST;
}

int LinkTemporaryAs(const TemporaryFile& temporary, const std::string& name) {
  int linked =
      temporary.name.empty()
          ? linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(temporary.fd.get())).c_str(),
                   temporary.folder, name.c_str(), AT_SYMLINK_FOLLOW)
          : linkat(temporary.folder, temporary.name.c_str(), temporary.folder, name.c_str(), 0);
  int error = linked == 0 ? 0 : errno;
  CrashPointAfter("link");
  return error;
}

int NameTemporary(TemporaryFile* temporary) {
  if (!temporary->name.empty()) return 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = TemporaryName(temporary->target);
    int error = LinkTemporaryAs(*temporary, name);
    if (error == EEXIST) continue;
    if (error != 0) return error;
    temporary->name = std::move(name);
    return 0;
  }
  return EEXIST;
}

void RemoveTemporary(TemporaryFile* temporary) {
  if (!temporary->name.empty()) {
    unlinkat(temporary->folder, temporary->name.c_str(), 0);
    CrashPointAfter("unlink");
    temporary->name.clear();
  }
  temporary->fd.Close();
}

void ClearDeadTemporaries(int folder) {
  struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  UniqueFd readable = ReadableFolder(folder);
  if (!readable) return;
  std::unique_ptr<DIR, CloseDir> dir(fdopendir(readable.get()));
  if (!dir) return;
  readable.Release();
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir.get())) {
    if (IsTemporaryName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  for (const std::string& name : names) {
    // Looked at before it is opened: a device or a FIFO under such a name
    // is never opened.
    struct stat seen;
    if (fstatat(folder, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode)) {
      continue;
    }
    UniqueFd fd(
        openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat held;
    if (!fd || fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) continue;
    // A live run holds its temporary file locked.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    struct stat now;
    if (fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_ino != held.st_ino || now.st_dev != held.st_dev) {
      continue;
    }
    unlinkat(folder, name.c_str(), 0);
  }
}

}  // namespace vendrel::platform
