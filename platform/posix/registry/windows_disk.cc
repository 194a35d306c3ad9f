#include "platform/posix/registry/windows_disk.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "base/text.h"
#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/place_beneath.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/code_page.h"
#include "platform/posix/registry/hive/hive_registry.h"

namespace vendrel::platform {
namespace {

constexpr int kWesternEuropean = 1252;
constexpr const char* kSoftwareOnDrive = ":\\Windows\\System32\\config\\SOFTWARE";
constexpr const char* kSystemOnDrive = ":\\Windows\\System32\\config\\SYSTEM";
constexpr const char* kUsersSid = "S-1-5-21-";  // local and domain users

struct Profile {
  std::string sid;
  std::string path;  // its folder's, as ProfileList gives it, expanded
  std::string name;  // its folder's, as the path spells it (once placed, as the disk does)
  std::string hive;  // on the drive
  std::string shown;
  std::string problem;  // why it cannot be used
};

const HiveRegistry::Value* ValueOf(const HiveRegistry::KeyContent& key, const char* name) {
  for (const HiveRegistry::Value& value : key.values) {
    if (EqualsIgnoringCase(value.name, name)) return &value;
  }
  return nullptr;
}

std::string TextOf(const HiveRegistry::KeyContent& key, const char* name) {
  const HiveRegistry::Value* value = ValueOf(key, name);
  return value != nullptr ? value->data : std::string();
}

// The path with each %SystemDrive% and %SystemRoot% (any letter case)
// replaced, in one pass, as Windows expands a ProfileImagePath; empty where
// it is longer than a Windows path can be.
std::string Expand(const std::string& path, const std::string& drive, const std::string& root) {
  constexpr std::size_t kLongestPath = 32767;
  if (path.size() > kLongestPath || root.size() > kLongestPath) return std::string();
  std::string expanded;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t end = path[at] == '%' ? path.find('%', at + 1) : std::string::npos;
    const std::string name = end == std::string::npos ? "" : path.substr(at + 1, end - at - 1);
    if (EqualsIgnoringCase(name, "SystemDrive") || EqualsIgnoringCase(name, "SystemRoot")) {
      expanded += EqualsIgnoringCase(name, "SystemDrive") ? drive : root;
      at = end + 1;
    } else {
      expanded += path[at++];
    }
    if (expanded.size() > kLongestPath) return std::string();
  }
  return expanded;
}

// The name of the folder at path (a Windows path): its last name that is
// not "." or "..".
std::string FolderName(const std::string& path) {
  for (std::size_t end = path.size(); end > 0;) {
    const std::size_t begin = path.find_last_of("\\/", end - 1);
    std::string name = path.substr(begin == std::string::npos ? 0 : begin + 1,
                                   end - (begin == std::string::npos ? 0 : begin + 1));
    if (!name.empty() && name != "." && name != "..") return name;
    end = begin == std::string::npos ? 0 : begin;
  }
  return std::string();
}

// Places the profile's folder, a path on drive, beneath top (the drive's
// folder), following no link, and the NTUSER.DAT in it.
void PlaceProfile(const std::string& top, char drive, Profile* profile) {
  const std::string& path = profile->path;
  if (path.size() < 3 || LowerLetter(path[0]) != drive || path[1] != ':' || path[2] != '\\') {
    profile->problem = "its folder " + path + " is not on this disk's drive " +
                       std::string(1, UpperLetter(drive)) + ":";
    return;
  }
  std::vector<std::string> parts;
  for (std::size_t begin = 3; begin <= path.size();) {
    std::size_t end = path.find_first_of("\\/", begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) parts.push_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  UniqueFd folder(open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string on_drive = std::string(1, UpperLetter(drive)) + ":";
  std::string shown = top;
  parts.push_back("NTUSER.DAT");
  for (std::size_t i = 0; folder && i < parts.size(); ++i) {
    const bool hive = i + 1 == parts.size();
    std::vector<std::string> names;
    if (parts[i] == "." || parts[i] == "..") {
      profile->problem = "its folder " + path + " climbs out of its place with '..'";
      return;
    }
    if (!NamesIgnoringCase(folder.get(), parts[i], &names) || names.size() != 1) {
      profile->problem = names.empty() ? "its folder " + path + " holds no " + parts[i]
                                       : "its folder " + path + " holds two names for " + parts[i] +
                                             ", alike but for case";
      return;
    }
    struct stat status;
    if (fstatat(folder.get(), names[0].c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        (hive ? !S_ISREG(status.st_mode) : !S_ISDIR(status.st_mode))) {
      profile->problem = "its folder " + path + " goes through " + names[0] + ", a link or not a " +
                         (hive ? "file" : "folder");
      return;
    }
    on_drive += "\\" + names[0];
    shown += "/" + names[0];
    if (i + 2 == parts.size()) profile->name = names[0];
    if (!hive) {
      folder = UniqueFd(
          openat(folder.get(), names[0].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
  }
  if (!folder) {
    profile->problem = "its folder " + path + " cannot be opened";
    return;
  }
  profile->hive = on_drive;
  profile->shown = shown;
}

// The installation's ANSI code page, from the SYSTEM hive's current control
// set; 0 where it holds none. A hive that cannot be read gives *problem.
int ReadCodePage(const DriveMap& drive, char letter, std::string* problem) {
  HiveRegistry system(std::string(1, UpperLetter(letter)) + kSystemOnDrive,
                      HiveRegistry::Contents::kUser, CodePage::Make(kWesternEuropean), {}, &drive);
  HiveRegistry::KeyContent select;
  Result read = system.ReadKey({"Select"}, &select);
  const HiveRegistry::Value* current = ValueOf(select, "Current");
  if (!read.ok() || current == nullptr || current->data.size() != 4) {
    if (read != kFileNotFound && !read.ok()) *problem = read.detail();
    return 0;
  }
  const auto set = static_cast<unsigned char>(current->data[0]) |
                   static_cast<unsigned>(static_cast<unsigned char>(current->data[1])) << 8;
  char control_set[32];
  std::snprintf(control_set, sizeof control_set, "ControlSet%03u", set);
  HiveRegistry::KeyContent nls;
  read = system.ReadKey({control_set, "Control", "Nls", "CodePage"}, &nls);
  if (!read.ok() && read != kFileNotFound) *problem = read.detail();
  const std::string acp = TextOf(nls, "ACP");
  char* end = nullptr;
  const long number = std::strtol(acp.c_str(), &end, 10);
  if (acp.empty()) return 0;
  if (*end != '\0' || number <= 0 || number >= 65536) {
    *problem = "the Windows disk's SYSTEM hive gives its ANSI code page as \"" + acp +
               "\", which is no code page's number: name one with VENDREL_CODEPAGE";
  }
  return static_cast<int>(number);
}

// The profiles for a report, the first few of a list too long to read.
std::string Listed(const std::vector<Profile>& profiles) {
  constexpr std::size_t kMostListed = 10;
  std::string list;
  for (std::size_t i = 0; i < profiles.size() && i < kMostListed; ++i) {
    const Profile& profile = profiles[i];
    list += (list.empty() ? "" : ", ") + (profile.name.empty() ? std::string("?") : profile.name) +
            " (" + profile.sid + ")";
  }
  if (profiles.size() > kMostListed) {
    list += " and " + std::to_string(profiles.size() - kMostListed) + " more";
  }
  return list;
}

}  // namespace

WindowsDisk FindWindows(const std::string& top, const std::string& user, bool with_code_page) {
  WindowsDisk disk;
  disk.top = top;
  struct stat status;
  if (stat(top.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    disk.problem = disk.user_problem = "VENDREL_WINDOWS " + top + " is not a folder";
    return disk;
  }
  // The volume stands as a drive of its own while its letter is not known.
  const DriveMap volume("", {{'c', top}});
  PlacedFile placed;
  if (volume.Place(std::string("C") + kSoftwareOnDrive, PathUse::kExisting, &placed) != kSuccess) {
    disk.problem = disk.user_problem =
        "VENDREL_WINDOWS " + top +
        " holds no Windows\\System32\\config\\SOFTWARE: name the folder where the Windows system "
        "volume is mounted";
    return disk;
  }
  disk.software_shown = placed.shown;
  std::string problem;
  if (with_code_page) disk.code_page = ReadCodePage(volume, 'c', &problem);
  if (!problem.empty()) {
    disk.problem = disk.user_problem = problem;
    return disk;
  }
  const std::shared_ptr<const CodePage> page =
      CodePage::Make(disk.code_page != 0 ? disk.code_page : kWesternEuropean);
  HiveRegistry software(std::string("C") + kSoftwareOnDrive, HiveRegistry::Contents::kSoftware,
                        page ? page : CodePage::Make(kWesternEuropean), {}, &volume);
  HiveRegistry::KeyContent version;
  Result read = software.ReadKey({"Microsoft", "Windows NT", "CurrentVersion"}, &version);
  if (!read.ok() && read != kFileNotFound) {
    disk.problem = disk.user_problem = read.detail();
    return disk;
  }
  const std::string system_root = TextOf(version, "SystemRoot");
  // A drive's letter, else the C: every installation's tools assume.
  if (system_root.size() >= 2 && system_root[1] == ':' && LowerLetter(system_root[0]) >= 'a' &&
      LowerLetter(system_root[0]) <= 'z') {
    disk.system_drive = LowerLetter(system_root[0]);
  }
  disk.software = std::string(1, UpperLetter(disk.system_drive)) + kSoftwareOnDrive;

  // The users' profiles, as ProfileList gives them.
  const std::vector<std::string> list = {"Microsoft", "Windows NT", "CurrentVersion",
                                         "ProfileList"};
  HiveRegistry::KeyContent profile_list;
  if (Result listed = software.ReadKey(list, &profile_list, "ProfileImagePath");
      !listed.ok() && listed != kFileNotFound) {
    disk.user_problem = listed.detail();
    return disk;
  }
  std::vector<Profile> profiles;
  const std::string system_drive = std::string(1, UpperLetter(disk.system_drive)) + ":";
  for (std::size_t i = 0; i < profile_list.subkeys.size(); ++i) {
    const std::string& sid = profile_list.subkeys[i];
    if (sid.compare(0, std::char_traits<char>::length(kUsersSid), kUsersSid) != 0 ||
        sid.find('.') != std::string::npos) {
      continue;  // the system's own, and the copies Windows keeps of a damaged one
    }
    Profile profile{sid, {}, {}, {}, {}, {}};
    profile.path = Expand(profile_list.subkey_values[i], system_drive,
                          system_root.empty() ? system_drive + "\\Windows" : system_root);
    profile.name = FolderName(profile.path);
    profiles.push_back(std::move(profile));
  }
  std::vector<Profile> chosen;
  for (const Profile& profile : profiles) {
    if (user.empty() || EqualsIgnoringCase(profile.name, user) ||
        EqualsIgnoringCase(profile.sid, user)) {
      chosen.push_back(profile);
    }
  }
  // Only the profile chosen is looked for on the disk.
  if (chosen.size() == 1) PlaceProfile(top, disk.system_drive, &chosen[0]);
  if (chosen.size() == 1 && chosen[0].problem.empty()) {
    disk.user_hive = chosen[0].hive;
    disk.user_hive_shown = chosen[0].shown;
    disk.user = chosen[0].name + " (" + chosen[0].sid + ")";
  } else if (chosen.size() == 1) {
    disk.user_problem = "the user profile " + chosen[0].name + " (" + chosen[0].sid +
                        ") on the Windows disk " + top + " cannot be used: " + chosen[0].problem;
  } else if (!user.empty() && chosen.empty()) {
    disk.user_problem = "VENDREL_USER " + user + " names no user profile on the Windows disk " +
                        top + "; it holds " + (profiles.empty() ? "none" : Listed(profiles));
  } else if (chosen.empty()) {
    disk.user_problem = "the Windows disk " + top + " holds no user profile";
  } else {
    disk.user_problem = "the Windows disk " + top + " holds several user profiles, " +
                        Listed(chosen) +
                        ": name the one whose HKEY_CURRENT_USER is meant with VENDREL_USER (its "
                        "folder's name or SID)";
  }
  return disk;
}

}  // namespace vendrel::platform
