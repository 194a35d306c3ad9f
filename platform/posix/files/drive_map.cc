#include "platform/posix/files/drive_map.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/text.h"
#include "platform/posix/config_path.h"
#include "platform/posix/win_error_map.h"

namespace vendrel::platform {
namespace {

constexpr int kMaxLinks = 40;

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char LowerLetter(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

// Applies "." and "..", never above the root.
std::vector<std::string> Normalise(const std::vector<std::string>& parts) {
  std::vector<std::string> out;
  for (const std::string& part : parts) {
    if (part == ".") continue;
    if (part == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(part);
  }
  return out;
}

std::string RealPath(const std::string& path) {
  struct Free {
    void operator()(char* text) const { std::free(text); }
  };
  std::unique_ptr<char, Free> real(realpath(path.c_str(), nullptr));
  return real ? std::string(real.get()) : std::string();
}

std::string JoinRelative(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// The entry of the folder whose name equals name without regard to ASCII
// case.
bool FindIgnoringCase(int folder, const std::string& name, std::string* found) {
  struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  UniqueFd readable = ReadableFolder(folder);
  if (!readable) return false;
  std::unique_ptr<DIR, CloseDir> dir(fdopendir(readable.get()));
  if (!dir) return false;
  readable.Release();  // the listing owns it now
  std::string best;
  while (dirent* entry = readdir(dir.get())) {
    std::string candidate = entry->d_name;
    // Of several spellings, the first in byte order, so the answer is stable.
    if (EqualsIgnoringCase(candidate, name) && (best.empty() || candidate < best)) {
      best = candidate;
    }
  }
  if (best.empty()) return false;
  *found = best;
  return true;
}

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

DriveMap::DriveMap(std::string drives_folder) : drives_folder_(std::move(drives_folder)) {}

std::string DriveMap::DefaultFolder() { return ConfigPath("VENDREL_DRIVES", "drives"); }

bool DriveMap::DriveOfWorkingDirectory(const std::string& cwd, std::string* drive_root,
                                       std::string* below) const {
  std::size_t best_length = 0;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string entry = drives_folder_ + "/" + letter + ":";
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
    root_path = drives_folder_ + "/" + LowerLetter(windows_path[0]) + ":";
  } else {
    // A working directory that was removed has no path: nothing is found
    // through it, as Windows finds no path below a folder that is gone.
    const std::string cwd = RealPath(".");
    if (cwd.empty()) return kPathNotFound;
    std::string below;
    if (DriveOfWorkingDirectory(cwd, &root_path, &below)) {
      if (!rooted) parts = SplitComponents(below);
    } else {
      if (rooted) return kPathNotFound;
      root_path = "/";
      parts = SplitComponents(cwd.substr(1));
    }
  }
  // The drive's entry is the operator's: it is followed wherever it points.
  UniqueFd root(open(root_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root) return kPathNotFound;
  std::vector<std::string> extra = SplitComponents(rest);
  parts.insert(parts.end(), extra.begin(), extra.end());
  parts = Normalise(parts);

  // Below it, each folder is opened beneath the drive, by the spelling the
  // disk has for it.
  std::string relative;
  UniqueFd folder;
  if (int error = OpenBeneath(root.get(), relative, O_PATH | O_DIRECTORY, &folder); error != 0) {
    return kPathNotFound;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    std::string spelled = parts[i];
    UniqueFd next;
    int error =
        OpenBeneath(root.get(), JoinRelative(relative, spelled), O_PATH | O_DIRECTORY, &next);
    if (error == ENOENT && FindIgnoringCase(folder.get(), parts[i], &spelled)) {
      error = OpenBeneath(root.get(), JoinRelative(relative, spelled), O_PATH | O_DIRECTORY, &next);
    }
    if (error != 0) return FolderFailure(error);
    relative = JoinRelative(relative, spelled);
    folder = std::move(next);
  }
  std::string name = parts.empty() ? "." : parts.back();
  struct stat st;
  std::string spelled;
  const bool found = fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!found && FindIgnoringCase(folder.get(), name, &spelled)) {
    name = spelled;
  } else if (!found && use == PathUse::kExisting) {
    return kFileNotFound;
  }
  // A link that ends the path leads to the file it names, inside the drive.
  for (int hops = 0;; ++hops) {
    if (fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && use == PathUse::kNewOrOld) break;
      return errno == ENOENT ? kFileNotFound : WinCodeFromErrno(errno);
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (hops == kMaxLinks || !CanFollowLinksBeneath()) return kCantResolveFilename;
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t length = readlinkat(folder.get(), name.c_str(), buffer.data(), PATH_MAX);
    if (length <= 0) return kFileNotFound;
    std::string target(buffer.data(), static_cast<std::size_t>(length));
    std::string path = target[0] == '/' ? target.substr(1) : JoinRelative(relative, target);
    std::size_t slash = path.find_last_of('/');
    relative = slash == std::string::npos ? std::string() : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "..") name = name.empty() ? "." : "..";
    if (int error = OpenBeneath(root.get(), relative, O_PATH | O_DIRECTORY, &folder); error != 0) {
      return FolderFailure(error);
    }
  }
  placed->shown = (root_path == "/" ? "" : root_path) + "/" + JoinRelative(relative, name);
  placed->folder = std::move(folder);
  placed->name = std::move(name);
  return kSuccess;
}

WinCode DriveMap::Resolve(std::string_view windows_path, PathUse use,
                          std::string* host_path) const {
  PlacedFile placed;
  if (WinCode code = Place(windows_path, use, &placed)) return code;
  *host_path = placed.shown;
  return kSuccess;
}

}  // namespace vendrel::platform
