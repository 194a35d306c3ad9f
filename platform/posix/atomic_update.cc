#include "platform/posix/atomic_update.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/posix/crash_point.h"
#include "platform/posix/unique_fd.h"

namespace vendrel::platform {
namespace {

constexpr int kMaxLinks = 40;

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

int WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t wrote = write(fd, content.data() + done, content.size() - done);
    CrashPointAfter("write");
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (wrote == 0) return ENOSPC;
    done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

int SyncDirectory(const std::string& directory) {
  UniqueFd dir(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return errno;
  int synced = fsync(dir.get());
  CrashPointAfter("fsync(directory)");
  if (synced != 0 && errno != EINVAL) return errno;
  return 0;
}

mode_t CreationMode() {
  mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Writes content to a new temporary file beside target, flushed to disk.
int WriteTemporary(const std::string& target, const std::string& content, const struct stat* like,
                   std::string* temp_path) {
  std::string name = DirectoryOf(target) + "/." + BaseNameOf(target) + ".XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  UniqueFd fd(mkostemp(buffer.data(), O_CLOEXEC));
  CrashPointAfter("mkostemp");
  if (!fd) return errno;
  *temp_path = buffer.data();
  int error = 0;
  if (like != nullptr) {
    if (fchmod(fd.get(), like->st_mode & 07777) != 0) error = errno;
    // Keeping the owner needs privileges; without them the file is ours.
    if (error == 0 && fchown(fd.get(), like->st_uid, like->st_gid) != 0) error = 0;
  } else if (fchmod(fd.get(), CreationMode()) != 0) {
    error = errno;
  }
  if (error == 0) error = WriteAll(fd.get(), content);
  if (error == 0) {
    if (fsync(fd.get()) != 0) error = errno;
    CrashPointAfter("fsync");
  }
  if (error == 0) error = fd.Close();
  if (error != 0) {
    unlink(temp_path->c_str());
    CrashPointAfter("unlink");
  }
  return error;
}

// A missing file is created by linking a finished temporary file into
// place, which fails rather than overwrite a file another run just made.
// Returns EEXIST when that happened, and the caller starts over.
int CreateNew(const std::string& target, const FileEdit& edit) {
  std::optional<std::string> content = edit(nullptr);
  if (!content) return 0;
  std::string temp;
  int error = WriteTemporary(target, *content, nullptr, &temp);
  if (error != 0) return error;
  if (link(temp.c_str(), target.c_str()) != 0) error = errno;
  CrashPointAfter("link");
  unlink(temp.c_str());
  CrashPointAfter("unlink");
  if (error != 0) return error;
  return SyncDirectory(DirectoryOf(target));
}

}  // namespace

int ResolveLinks(const std::string& path, std::string* resolved) {
  std::string current = path;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *resolved = current;
      return 0;
    }
    std::vector<char> target(PATH_MAX + 1);
    ssize_t length = readlink(current.c_str(), target.data(), PATH_MAX);
    if (length < 0) return errno;
    std::string next(target.data(), static_cast<std::size_t>(length));
    if (next.empty() || next[0] != '/') next = DirectoryOf(current).append("/").append(next);
    current = next;
  }
  return ELOOP;
}

int UpdateFileAtomically(const std::string& path, WhenMissing when_missing, const FileEdit& edit) {
  std::string target;
  if (int error = ResolveLinks(path, &target); error != 0) return error;
  for (;;) {
    UniqueFd fd(open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
      if (errno != ENOENT || when_missing == WhenMissing::kFail) return errno;
      int error = CreateNew(target, edit);
      if (error == EEXIST) continue;
      return error;
    }
    if (flock(fd.get(), LOCK_EX) != 0) return errno;
    // Another run may have replaced the file while we waited for the lock:
    // then the lock is on a file nobody reads any more, and we start over.
    struct stat held;
    struct stat now;
    if (fstat(fd.get(), &held) != 0) return errno;
    if (stat(target.c_str(), &now) != 0 || now.st_ino != held.st_ino || now.st_dev != held.st_dev) {
      continue;
    }
    if (S_ISDIR(held.st_mode)) return EISDIR;
    if (!S_ISREG(held.st_mode)) return EINVAL;
    if ((held.st_mode & 0222) == 0) return EACCES;
    std::string old_content;
    if (int error = ReadToEnd(fd.get(), &old_content); error != 0) return error;
    std::optional<std::string> content = edit(&old_content);
    if (!content) return 0;
    std::string temp;
    if (int error = WriteTemporary(target, *content, &held, &temp); error != 0) return error;
    int renamed = rename(temp.c_str(), target.c_str());
    int rename_error = errno;
    CrashPointAfter("rename");
    if (renamed != 0) {
      unlink(temp.c_str());
      return rename_error;
    }
    return SyncDirectory(DirectoryOf(target));
  }
}

}  // namespace vendrel::platform
