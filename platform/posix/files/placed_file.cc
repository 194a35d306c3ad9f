#include "platform/posix/files/placed_file.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/posix/files/crash_point.h"

namespace vendrel::platform {
namespace {

constexpr int kMaxLinks = 40;
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Once the kernel has said it has no openat2, it is not asked again.
std::atomic<bool> no_openat2{false};

int Openat2(int root, const std::string& relative, int flags, std::uint64_t resolve) {
  struct open_how how {};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = resolve;
  return static_cast<int>(syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how));
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) parts.push_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

// Without openat2: one name at a time, no link followed, ".." never above
// root (the caller's paths have had ".." applied already; a link's do not,
// and are not followed here).
int OpenWithoutLinks(int root, const std::string& relative, int flags, UniqueFd* out) {
  std::vector<std::string> parts = Components(relative);
  UniqueFd current(openat(root, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!current) return errno;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] == ".") continue;
    if (parts[i] == "..") return EXDEV;
    const bool last = i + 1 == parts.size();
    const int step_flags = last ? flags | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW;
    UniqueFd next(openat(current.get(), parts[i].c_str(), step_flags | O_CLOEXEC, 0));
    if (!next) return errno;
    current = std::move(next);
  }
  if (parts.empty()) {
    UniqueFd self(openat(root, ".", flags | O_CLOEXEC));
    if (!self) return errno;
    current = std::move(self);
  }
  *out = std::move(current);
  return 0;
}

std::string DirectoryPart(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NamePart(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int ReadLinkAt(int folder, const std::string& name, std::string* target) {
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t length = readlinkat(folder, name.c_str(), buffer.data(), PATH_MAX);
  if (length < 0) return errno;
  target->assign(buffer.data(), static_cast<std::size_t>(length));
  return 0;
}

}  // namespace

int OpenBeneath(int root, const std::string& relative, int flags, UniqueFd* out,
                bool one_file_system) {
  const std::string path = relative.empty() ? "." : relative;
  if (!no_openat2.load()) {
    const std::uint64_t resolve =
        RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS | (one_file_system ? RESOLVE_NO_XDEV : 0);
    int fd = Openat2(root, path, flags | O_CLOEXEC, resolve);
    if (fd >= 0) {
      *out = UniqueFd(fd);
      return 0;
    }
    if (errno != ENOSYS) return errno;
    no_openat2.store(true);
  }
  return OpenWithoutLinks(root, path, flags, out);
}

bool CanFollowLinksBeneath() {
  if (!no_openat2.load()) {
    UniqueFd probe;  // a kernel without openat2 is remembered as such
    (void)OpenBeneath(AT_FDCWD, ".", O_PATH | O_DIRECTORY, &probe);
  }
  return !no_openat2.load();
}

void LookUpWithoutOpenat2(bool without) { no_openat2.store(without); }

int PlaceTrusted(const std::string& path, PlacedFile* placed) {
  std::string current = path;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    UniqueFd folder(open(DirectoryPart(current).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return errno;
    const std::string name = NamePart(current);
    if (name.empty() || name == "." || name == "..") return EISDIR;
    struct stat st;
    if (fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(st.st_mode)) {
      placed->folder = std::move(folder);
      placed->name = name;
      placed->shown = current;
      return 0;
    }
    std::string target;
    if (int error = ReadLinkAt(folder.get(), name, &target); error != 0) return error;
    if (target.empty()) return ENOENT;
    if (target[0] != '/') target = DirectoryPart(current).append("/").append(target);
    current = std::move(target);
  }
  return ELOOP;
}

std::string RealPath(const std::string& path) {
  struct Free {
    void operator()(char* text) const { std::free(text); }
  };
  std::unique_ptr<char, Free> real(realpath(path.c_str(), nullptr));
  return real ? std::string(real.get()) : std::string();
}

int PlaceTrustedOnce(const std::string& path, PlacedFile* placed) {
  return placed->folder ? 0 : PlaceTrusted(path, placed);
}

int StatPlaced(const PlacedFile& placed, struct stat* status) {
  if (fstatat(placed.folder.get(), placed.name.c_str(), status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno;
  }
  return 0;
}

int OpenPlaced(const PlacedFile& placed, int flags, UniqueFd* fd, struct stat* status) {
  struct stat before;
  if (int error = StatPlaced(placed, &before); error != 0) return error;
  if (S_ISDIR(before.st_mode)) return EISDIR;
  if (!S_ISREG(before.st_mode)) return ENODEV;
  UniqueFd opened(
      openat(placed.folder.get(), placed.name.c_str(), flags | O_NOFOLLOW | kOpenFlags));
  if (!opened) return errno == ELOOP ? ENODEV : errno;
  if (fstat(opened.get(), status) != 0) return errno;
  // Swapped for something else between the look and the open.
  if (!S_ISREG(status->st_mode)) return ENODEV;
  *fd = std::move(opened);
  return 0;
}

bool StillPlaced(const PlacedFile& placed, const struct stat& held) {
  struct stat now;
  return StatPlaced(placed, &now) == 0 && now.st_ino == held.st_ino && now.st_dev == held.st_dev;
}

UniqueFd ReadableFolder(int folder) {
  return UniqueFd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void FlushFolder(int folder) {
  // A folder the user may write but not read cannot be opened for this.
  UniqueFd readable = ReadableFolder(folder);
  if (!readable) return;
  (void)fsync(readable.get());
  CrashPointAfter("fsync(directory)");
}

std::string FolderPathOf(int folder) {
  std::string path;
  if (ReadLinkAt(AT_FDCWD, "/proc/self/fd/" + std::to_string(folder), &path) != 0) return "?";
  return path;
}

}  // namespace vendrel::platform
