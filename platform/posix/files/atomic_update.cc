#include "platform/posix/files/atomic_update.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/posix/files/crash_point.h"
#include "platform/posix/files/file_identity.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/rewrite_journal.h"
#include "platform/posix/files/temporary_file.h"
#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {
namespace {

constexpr int kMaxLinks = 40;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as any new file

// A new temporary file beside target, written by write and flushed to
// disk; on a failure, none.
int WriteTemporary(const std::string& target, mode_t mode, const LockedFile::Writer& write,
                   TemporaryFile* temporary) {
  if (int error = CreateTemporary(target, mode, temporary); error != 0) return error;
  int error = write(temporary->path, temporary->fd.get());
  if (error == 0) error = FlushFile(temporary->fd.get());
  if (error != 0) RemoveTemporary(temporary);
  return error;
}

LockedFile::Writer WriterOf(const std::string& content) {
  return [&content](const std::string&, int fd) { return WriteAll(fd, content); };
}

// A missing file is created by linking a finished temporary file into
// place, which fails rather than overwrite a file another run just made.
// Returns EEXIST when that happened, and the caller starts over.
int CreateNew(const std::string& target, const FileEdit& edit) {
  const std::string* content = edit(nullptr);
  if (content == nullptr) return 0;
  TemporaryFile temporary;
  if (int error = WriteTemporary(target, kNewFileMode, WriterOf(*content), &temporary);
      error != 0) {
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

// The temporary file's content, for a file that is to be rewritten in
// place after all.
int ReadBack(const TemporaryFile& temporary, std::string* content) {
  UniqueFd in(open(temporary.path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return errno;
  return ReadToEnd(in.get(), content);
}

}  // namespace

int LockedFile::Lock(const std::string& path, LockedFile* locked) {
  std::string target;
  if (int error = ResolveLinks(path, &target); error != 0) return error;
  UniqueFd fd;
  struct stat held;
  if (int error = LockCurrentFile(target, LOCK_EX, &fd, &held); error != 0) return error;
  if (int refused = MayWrite(target); refused != 0) return refused;
  if (int pending = CompletePendingRewrite(target, fd.get(), held); pending != 0) return pending;
  ClearDeadTemporaries(DirectoryOf(target));
  locked->path_ = std::move(target);
  locked->fd_ = std::move(fd);
  locked->held_ = held;
  return 0;
}

int LockedFile::Replace(const std::string& content) {
  if (held_.st_nlink > 1) return RewriteInPlace(path_, held_, content);
  return ReplaceWith(WriterOf(content));
}

int LockedFile::ReplaceWith(const Writer& write) {
  TemporaryFile temporary;
  if (int error = WriteTemporary(path_, S_IRUSR | S_IWUSR, write, &temporary); error != 0) {
    return error;
  }
  if (held_.st_nlink > 1 || !CarryIdentity(fd_.get(), held_, temporary.fd.get())) {
    std::string content;
    int error = ReadBack(temporary, &content);
    RemoveTemporary(&temporary);
    return error != 0 ? error : RewriteInPlace(path_, held_, content);
  }
  int renamed = rename(temporary.path.c_str(), path_.c_str());
  int error = renamed == 0 ? 0 : errno;
  CrashPointAfter("rename");
  if (error != 0) {
    RemoveTemporary(&temporary);
    return error;
  }
  FlushFolder(DirectoryOf(path_));
  return 0;
}

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
  for (;;) {
    LockedFile locked;
    int error = LockedFile::Lock(path, &locked);
    if (error == ENOENT && when_missing == WhenMissing::kCreate) {
      std::string target;
      if (int unresolved = ResolveLinks(path, &target); unresolved != 0) return unresolved;
      ClearDeadTemporaries(DirectoryOf(target));
      error = CreateNew(target, edit);
      if (error == EEXIST) continue;
      return error;
    }
    if (error != 0) return error;
    std::string old_content;
    if (int read = ReadToEnd(locked.fd(), &old_content); read != 0) return read;
    const std::string* content = edit(&old_content);
    if (content == nullptr) return 0;
    return locked.Replace(*content);
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
