#include "platform/posix/files/drive_map.h"

#include <dirent.h>
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

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The entry of folder whose name equals name without regard to ASCII case.
bool FindIgnoringCase(const std::string& folder, const std::string& name, std::string* found) {
  struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, CloseDir> dir(opendir(folder.c_str()));
  if (!dir) return false;
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

WinCode DriveMap::Resolve(std::string_view windows_path, PathUse use,
                          std::string* host_path) const {
  if (windows_path.empty() || !IsValidWindowsName(windows_path)) return kInvalidName;
  std::string root;
  std::vector<std::string> parts;
  const bool has_drive = windows_path.size() >= 2 && windows_path[1] == ':';
  std::string_view rest = has_drive ? windows_path.substr(2) : windows_path;
  const bool rooted = !rest.empty() && (rest.front() == '\\' || rest.front() == '/');
  if (has_drive) {
    root = drives_folder_ + "/" + LowerLetter(windows_path[0]) + ":";
  } else {
    // A working directory that was removed has no path: nothing is found
    // through it, as Windows finds no path below a folder that is gone.
    const std::string cwd = RealPath(".");
    if (cwd.empty()) return kPathNotFound;
    std::string below;
    if (DriveOfWorkingDirectory(cwd, &root, &below)) {
      if (!rooted) parts = SplitComponents(below);
    } else {
      if (rooted) return kPathNotFound;
      root = "/";
      parts = SplitComponents(cwd.substr(1));
    }
  }
  struct stat st;
  if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kPathNotFound;
  std::vector<std::string> extra = SplitComponents(rest);
  parts.insert(parts.end(), extra.begin(), extra.end());
  parts = Normalise(parts);

  std::string current = root;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    std::string exact = Join(current, parts[i]);
    std::string spelled;
    if (lstat(exact.c_str(), &st) == 0) {
      current = exact;
    } else if (FindIgnoringCase(current, parts[i], &spelled)) {
      current = Join(current, spelled);
    } else if (!last) {
      return kPathNotFound;
    } else if (use == PathUse::kNewOrOld) {
      current = exact;
      break;
    } else {
      return kFileNotFound;
    }
    if (!last) {
      if (stat(current.c_str(), &st) != 0) {
        return errno == ELOOP ? kCantResolveFilename : kPathNotFound;
      }
      if (!S_ISDIR(st.st_mode)) return kPathNotFound;
    }
  }
  *host_path = current;
  return kSuccess;
}

}  // namespace vendrel::platform
