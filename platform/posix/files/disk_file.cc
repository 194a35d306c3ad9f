#include "platform/posix/files/disk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix/files/place_beneath.h"

namespace vendrel::platform {
namespace {

bool IsDriveEntry(const std::string& name) {
  return name.size() == 2 && name[1] == ':' &&
         ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'));
}

// Whether the folder is the top of a mounted file system: the kernel says
// so where it can, else its parent lies on another device, or is itself.
bool IsMountTop(int folder) {
  struct statx status {};
  if (statx(folder, "", AT_EMPTY_PATH, STATX_INO, &status) == 0 &&
      (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  struct stat self;
  struct stat parent;
  if (fstat(folder, &self) != 0 || fstatat(folder, "..", &parent, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

}  // namespace

int PlaceOnItsDisk(const DriveMap* drives, const std::string& path, PlacedFile* placed) {
  bool on_the_way = false;
  if (drives != nullptr && path.size() >= 2 && IsDriveEntry(path.substr(0, 2))) {
    Beneath drive;
    UniqueFd root;
    if (int error = drives->OpenDriveFolder(path[0], &root, &drive.shown); error != 0) {
      return error;
    }
    drive.root = root.get();
    return PlaceBeneath(drive, PathComponents(path.substr(2), "\\/"), LastName::kExisting, placed,
                        &on_the_way);
  }
  // A relative path goes on from the working directory, which is the
  // operator's, as the kernel names it.
  std::string absolute = path;
  if (path.empty() || path[0] != '/') {
    const std::string cwd = RealPath(".");
    if (cwd.empty()) return ENOENT;
    absolute = cwd + "/" + path;
  }
  const std::vector<std::string> parts = PathComponents(absolute, "/");
  // The folders the path names by name, down to its first link (a drive's
  // entry aside), the deepest disk top among them kept.
  UniqueFd folder(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return errno;
  UniqueFd top(fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
  if (!top) return errno;
  Beneath beneath{-1, "", true};
  std::string walked;
  std::size_t below = 0;
  std::vector<std::string> spelled = parts;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    // Names match as they do beneath the top, so that the walk and the
    // placement below it take the same folders.
    struct stat here;
    struct stat next_status;
    if (fstat(folder.get(), &here) != 0) return errno;
    if (fstatat(folder.get(), parts[i].c_str(), &next_status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !FindIgnoringCase(folder.get(), parts[i], &spelled[i]) ||
          fstatat(folder.get(), spelled[i].c_str(), &next_status, AT_SYMLINK_NOFOLLOW) != 0) {
        return ENOENT;
      }
    }
    UniqueFd next;
    std::string shown = walked + "/" + spelled[i];
    char drive = 0;
    if (S_ISLNK(next_status.st_mode) && drives != nullptr && IsDriveEntry(spelled[i]) &&
        drives->IsDrivesFolder(here)) {
      if (drives->OpenDriveFolder(spelled[i][0], &next, &shown) != 0) break;
      drive = spelled[i][0];
    } else if (S_ISDIR(next_status.st_mode)) {
      next = UniqueFd(
          openat(folder.get(), spelled[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next) break;
      struct stat opened;
      if (drives != nullptr && fstat(next.get(), &opened) == 0) drive = drives->DriveAt(opened);
    } else {
      break;
    }
    folder = std::move(next);
    walked = shown;
    if (drive != 0 || IsMountTop(folder.get())) {
      top = UniqueFd(fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
      if (!top) return errno;
      beneath.shown = walked;
      beneath.one_file_system = drive == 0;
      below = i + 1;
    }
  }
  beneath.root = top.get();
  const std::vector<std::string> rest(spelled.begin() + static_cast<std::ptrdiff_t>(below),
                                      spelled.end());
  return PlaceBeneath(beneath, rest, LastName::kExisting, placed, &on_the_way);
}

int PlaceOnItsDiskOnce(const DriveMap* drives, const std::string& path, PlacedFile* placed) {
  return placed->folder ? 0 : PlaceOnItsDisk(drives, path, placed);
}

}  // namespace vendrel::platform
