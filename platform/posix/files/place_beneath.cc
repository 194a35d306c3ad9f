#include "platform/posix/files/place_beneath.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "base/text.h"

namespace vendrel::platform {
namespace {

constexpr int kMaxLinks = 40;

std::string JoinRelative(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

}  // namespace

std::vector<std::string> PathComponents(std::string_view path, std::string_view separators,
                                        std::vector<std::string> below) {
  std::vector<std::string> parts = std::move(below);
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = path.find_first_of(separators, begin);
    if (end == std::string_view::npos) end = path.size();
    std::string part(path.substr(begin, end - begin));
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    begin = end + 1;
  }
  return parts;
}

bool NamesIgnoringCase(int folder, const std::string& name, std::vector<std::string>* names) {
  struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  names->clear();
  UniqueFd readable = ReadableFolder(folder);
  if (!readable) return false;
  std::unique_ptr<DIR, CloseDir> dir(fdopendir(readable.get()));
  if (!dir) return false;
  readable.Release();  // the listing owns it now
  while (dirent* entry = readdir(dir.get())) {
    if (EqualsIgnoringCase(entry->d_name, name)) names->emplace_back(entry->d_name);
  }
  std::sort(names->begin(), names->end());
  return true;
}

bool FindIgnoringCase(int folder, const std::string& name, std::string* found) {
  std::vector<std::string> names;
  if (!NamesIgnoringCase(folder, name, &names) || names.empty()) return false;
  *found = names.front();
  return true;
}

int PlaceBeneath(const Beneath& beneath, const std::vector<std::string>& parts, LastName last,
                 PlacedFile* placed, bool* on_the_way) {
  *on_the_way = true;
  const bool one = beneath.one_file_system;
  std::string relative;
  UniqueFd folder;
  if (int error = OpenBeneath(beneath.root, relative, O_PATH | O_DIRECTORY, &folder, one);
      error != 0) {
    return error;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    std::string spelled = parts[i];
    UniqueFd next;
    int error = OpenBeneath(beneath.root, JoinRelative(relative, spelled), O_PATH | O_DIRECTORY,
                            &next, one);
    if (error == ENOENT && FindIgnoringCase(folder.get(), parts[i], &spelled)) {
      error = OpenBeneath(beneath.root, JoinRelative(relative, spelled), O_PATH | O_DIRECTORY,
                          &next, one);
    }
    if (error != 0) return error;
    relative = JoinRelative(relative, spelled);
    folder = std::move(next);
  }
  std::string name = parts.empty() ? "." : parts.back();
  struct stat st;
  std::string spelled;
  const bool found = fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  *on_the_way = false;
  if (!found && FindIgnoringCase(folder.get(), name, &spelled)) {
    name = spelled;
  } else if (!found && last == LastName::kExisting) {
    return ENOENT;
  }
  // A link that ends the path leads to the file it names, inside the root.
  for (int hops = 0;; ++hops) {
    if (fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && last == LastName::kMayBeNew) break;
      return errno;
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (hops == kMaxLinks || !CanFollowLinksBeneath()) return ELOOP;
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t length = readlinkat(folder.get(), name.c_str(), buffer.data(), PATH_MAX);
    if (length <= 0) return ENOENT;
    std::string target(buffer.data(), static_cast<std::size_t>(length));
    std::string path = target[0] == '/' ? target.substr(1) : JoinRelative(relative, target);
    std::size_t slash = path.find_last_of('/');
    relative = slash == std::string::npos ? std::string() : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) name = ".";
    if (int error = OpenBeneath(beneath.root, relative, O_PATH | O_DIRECTORY, &folder, one);
        error != 0) {
      *on_the_way = true;
      return error;
    }
  }
  // A link that ends in ".." names a folder, and would be looked at from
  // above the root.
  if (name == "..") return EISDIR;
  placed->shown = beneath.shown + "/" + JoinRelative(relative, name);
  placed->folder = std::move(folder);
  placed->name = std::move(name);
  return 0;
}

}  // namespace vendrel::platform
