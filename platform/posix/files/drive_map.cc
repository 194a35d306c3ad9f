#include "platform/posix/files/drive_map.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "base/text.h"
#include "platform/posix/config_path.h"
#include "platform/posix/files/place_beneath.h"
#include "platform/posix/win_error_map.h"

namespace vendrel::platform {
namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

WinCode FolderFailure(int error) { return error == ELOOP ? kCantResolveFilename : kPathNotFound; }

}  // namespace

bool IsValidWindowsName(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (c < 32) return false;
    switch (c) {
      case '<':
      case '>':
      case '"':
      case '|':
      case '?':
      case '*':
        return false;
      case ':':
        if (i != 1 || !IsLetter(name[0])) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

DriveMap::DriveMap(std::string drives_folder, std::map<char, std::string> found)
    : drives_folder_(std::move(drives_folder)), found_(std::move(found)) {}

std::string DriveMap::EntryOf(char letter) const {
  letter = LowerLetter(letter);
  std::string entry = drives_folder_ + "/" + letter + ":";
  struct stat status;
  if (!drives_folder_.empty() && lstat(entry.c_str(), &status) == 0) return entry;
  auto found = found_.find(letter);
  return found != found_.end() ? found->second : entry;
}

std::string DriveMap::DefaultFolder() { return ConfigPath("VENDREL_DRIVES", "drives"); }

bool DriveMap::DriveOfWorkingDirectory(const std::string& cwd, std::string* drive_root,
                                       std::string* below) const {
  std::size_t best_length = 0;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string entry = EntryOf(letter);
    std::string real = RealPath(entry);
    if (real.empty()) continue;
    bool holds = cwd == real || real == "/" ||
                 (cwd.compare(0, real.size(), real) == 0 && cwd[real.size()] == '/');
    if (holds && real.size() + 1 > best_length) {
      best_length = real.size() + 1;
      *drive_root = entry;
      *below = real == "/" ? cwd.substr(1) : cwd.substr(std::min(cwd.size(), real.size() + 1));
    }
  }
  return best_length > 0;
}

WinCode DriveMap::Place(std::string_view windows_path, PathUse use, PlacedFile* placed) const {
  if (windows_path.empty() || !IsValidWindowsName(windows_path)) return kInvalidName;
  std::string root_path;
  std::vector<std::string> parts;
  const bool has_drive = windows_path.size() >= 2 && windows_path[1] == ':';
  std::string_view rest = has_drive ? windows_path.substr(2) : windows_path;
  const bool rooted = !rest.empty() && (rest.front() == '\\' || rest.front() == '/');
  if (has_drive) {
    root_path = EntryOf(windows_path[0]);
  } else {
    // A working directory that was removed has no path: nothing is found
    // through it, as Windows finds no path below a folder that is gone.
    const std::string cwd = RealPath(".");
    if (cwd.empty()) return kPathNotFound;
    std::string below;
    if (DriveOfWorkingDirectory(cwd, &root_path, &below)) {
      if (!rooted) parts = PathComponents(below, "/");
    } else {
      if (rooted) return kPathNotFound;
      root_path = "/";
      parts = PathComponents(cwd.substr(1), "/");
    }
  }
  // The drive's entry (and the working directory) are the operator's: they
  // are followed wherever they point. Nothing beneath them is.
  UniqueFd root(open(root_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root) {
    const char letter = LowerLetter(windows_path[0]);
    if (has_drive && say_unmapped_ && said_.insert(letter).second) say_unmapped_(letter);
    return kPathNotFound;
  }
  parts = PathComponents(rest, "\\/", std::move(parts));
  bool on_the_way = false;
  const LastName last = use == PathUse::kExisting ? LastName::kExisting : LastName::kMayBeNew;
  const Beneath beneath{root.get(), root_path == "/" ? "" : root_path, false};
  if (int error = PlaceBeneath(beneath, parts, last, placed, &on_the_way); error != 0) {
    return on_the_way ? FolderFailure(error) : WinCodeFromErrno(error);
  }
  return kSuccess;
}

int DriveMap::OpenDriveFolder(char letter, UniqueFd* folder, std::string* shown) const {
  *shown = EntryOf(letter);
  *folder = UniqueFd(open(shown->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return *folder ? 0 : errno;
}

char DriveMap::DriveAt(const struct stat& folder) const {
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    struct stat st;
    const std::string entry = EntryOf(letter);
    if (stat(entry.c_str(), &st) == 0 && st.st_dev == folder.st_dev && st.st_ino == folder.st_ino) {
      return letter;
    }
  }
  return 0;
}

bool DriveMap::IsDrivesFolder(const struct stat& folder) const {
  struct stat st;
  return stat(drives_folder_.c_str(), &st) == 0 && st.st_dev == folder.st_dev &&
         st.st_ino == folder.st_ino;
}

WinCode DriveMap::Resolve(std::string_view windows_path, PathUse use,
                          std::string* host_path) const {
  PlacedFile placed;
  if (WinCode code = Place(windows_path, use, &placed)) return code;
  *host_path = placed.shown;
  return kSuccess;
}

}  // namespace vendrel::platform
