#include "platform/posix/atomic_update.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/posix/crash_point.h"
#include "platform/posix/file_io.h"
#include "platform/posix/file_identity.h"
#include "platform/posix/rewrite_journal.h"
#include "platform/posix/temporary_file.h"
#include "platform/posix/unique_fd.h"

namespace vendrel::platform {
namespace {

constexpr int kMaxLinks = 40;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as any new file

// Writes content to a new temporary file beside target, flushed to disk.
int WriteTemporary(const std::string& target, const std::string& content, mode_t mode,
                   TemporaryFile* temporary) {
  if (int error = CreateTemporary(target, mode, temporary); error != 0) return error;
  int error = WriteAll(temporary->fd.get(), content);
  if (error == 0) error = FlushFile(temporary->fd.get());
  if (error != 0) RemoveTemporary(temporary);
  return error;
}

// A missing file is created by linking a finished temporary file into
// place, which fails rather than overwrite a file another run just made.
// Returns EEXIST when that happened, and the caller starts over.
int CreateNew(const std::string& target, const FileEdit& edit) {
  const std::string* content = edit(nullptr);
  if (content == nullptr) return 0;
  TemporaryFile temporary;
  if (int error = WriteTemporary(target, *content, kNewFileMode, &temporary); error != 0) {
    return error;
  }
  int linked = link(temporary.path.c_str(), target.c_str());
  int error = linked == 0 ? 0 : errno;
  CrashPointAfter("link");
  RemoveTemporary(&temporary);
  if (error != 0) return error;
  FlushFolder(DirectoryOf(target));
  return 0;
}

// Puts content in the place of the locked file: a new file renamed over
// it, unless that would split its names or drop what it carries.
int Replace(const std::string& target, int fd, const struct stat& held,
            const std::string& content) {
  if (held.st_nlink > 1) return RewriteInPlace(target, held, content);
  TemporaryFile temporary;
  if (int error = WriteTemporary(target, content, S_IRUSR | S_IWUSR, &temporary); error != 0) {
    return error;
  }
  if (!CarryIdentity(fd, held, temporary.fd.get())) {
    RemoveTemporary(&temporary);
    return RewriteInPlace(target, held, content);
  }
  int renamed = rename(temporary.path.c_str(), target.c_str());
  int error = renamed == 0 ? 0 : errno;
  CrashPointAfter("rename");
  if (error != 0) {
    RemoveTemporary(&temporary);
    return error;
  }
  FlushFolder(DirectoryOf(target));
  return 0;
}

// Opens the file and takes its lock, as the file that stands at the path
// when the lock is granted: another run may have replaced it meanwhile.
int LockCurrentFile(const std::string& target, int operation, UniqueFd* locked, struct stat* held) {
  for (;;) {
    UniqueFd fd(open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) return errno;
    if (flock(fd.get(), operation) != 0) return errno;
    struct stat now;
    if (fstat(fd.get(), held) != 0) return errno;
    if (stat(target.c_str(), &now) != 0 || now.st_ino != held->st_ino ||
        now.st_dev != held->st_dev) {
      continue;
    }
    if (S_ISDIR(held->st_mode)) return EISDIR;
    if (!S_ISREG(held->st_mode)) return EINVAL;
    *locked = std::move(fd);
    return 0;
  }
}

}  // namespace

int MayWrite(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  if ((st.st_mode & 0222) == 0) return EACCES;
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

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
  const std::string folder = DirectoryOf(target);
  for (;;) {
    UniqueFd fd;
    struct stat held;
    int error = LockCurrentFile(target, LOCK_EX, &fd, &held);
    if (error == ENOENT && when_missing == WhenMissing::kCreate) {
      ClearDeadTemporaries(folder);
      error = CreateNew(target, edit);
      if (error == EEXIST) continue;
      return error;
    }
    if (error != 0) return error;
    if (int refused = MayWrite(target); refused != 0) return refused;
    if (int pending = CompletePendingRewrite(target, fd.get(), held); pending != 0) return pending;
    ClearDeadTemporaries(folder);
    std::string old_content;
    if (int read = ReadToEnd(fd.get(), &old_content); read != 0) return read;
    const std::string* content = edit(&old_content);
    if (content == nullptr) return 0;
    return Replace(target, fd.get(), held, *content);
  }
}

int ReadWholeFile(const std::string& path, std::string* content) {
  std::string target;
  if (int error = ResolveLinks(path, &target); error != 0) return error;
  UniqueFd fd;
  struct stat held;
  if (int error = LockCurrentFile(target, LOCK_SH, &fd, &held); error != 0) return error;
  if (HasPendingRewrite(target, fd.get(), held)) {
    // Completing it takes the exclusive lock, and the right to write.
    fd = UniqueFd();
    if (int error = LockCurrentFile(target, LOCK_EX, &fd, &held); error != 0) return error;
    if (MayWrite(target) == 0) {
      if (int error = CompletePendingRewrite(target, fd.get(), held); error != 0) return error;
    }
  }
  return ReadToEnd(fd.get(), content);
}

}  // namespace vendrel::platform
