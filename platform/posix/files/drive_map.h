// Drive-letter paths on Linux, mapped as Wine's dosdevices map them: a
// folder holds one entry per drive ("c:", "f:"), each a folder or a link to
// one. Names match without regard to ASCII case, as on Windows.
#ifndef VENDREL_PLATFORM_POSIX_FILES_DRIVE_MAP_H_
#define VENDREL_PLATFORM_POSIX_FILES_DRIVE_MAP_H_

#include <sys/stat.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "base/win_codes.h"
#include "platform/posix/files/placed_file.h"

namespace vendrel::platform {

enum class PathUse {
  kExisting,  // every component must exist
  kNewOrOld,  // the last component may be missing; it is then taken as given
};

class DriveMap {
 public:
  // found: folders that drives map to where the drives folder has no entry
  // of their own (a Windows disk's system drive), by lower-case letter.
  explicit DriveMap(std::string drives_folder, std::map<char, std::string> found = {});

  // Where a path names a drive no folder maps, say is told its letter, once.
  void SayUnmapped(std::function<void(char letter)> say) { say_unmapped_ = std::move(say); }

  // VENDREL_DRIVES, else $XDG_CONFIG_HOME/vendrel/drives, with
  // $HOME/.config for an unset XDG_CONFIG_HOME.
  static std::string DefaultFolder();

  // Places a Windows path beneath its drive's folder, which stands as the
  // root of everything on that drive: a link on the disk resolves inside the
  // drive's folder (an absolute one against it), "." and ".." never climb
  // above it, and a link that ends the path is followed to the file it ends
  // at, inside the drive. Fails with the code Windows gives: 123 for a name
  // it rejects, 3 for a missing folder or drive, 2 for a missing file in an
  // existing folder, 1921 for links that loop. A path without a drive is
  // relative to the working directory; a rooted one starts at the drive
  // whose folder holds the working directory.
  WinCode Place(std::string_view windows_path, PathUse use, PlacedFile* placed) const;

  // The same, as a path on this machine (the folder's path and the name).
  WinCode Resolve(std::string_view windows_path, PathUse use, std::string* host_path) const;

  // The folder of a drive, as its entry leads to it (the operator's entry,
  // followed wherever it points), and its path for reports. Returns 0 or an
  // errno value.
  int OpenDriveFolder(char letter, UniqueFd* folder, std::string* shown) const;
  // The letter of the drive whose folder is the one described, or 0.
  char DriveAt(const struct stat& folder) const;
  // Whether the folder described is the one that holds the drives' entries.
  bool IsDrivesFolder(const struct stat& folder) const;

 private:
  // The drive entry whose folder holds the working directory (cwd, a real
  // path), with the working directory's path below it.
  bool DriveOfWorkingDirectory(const std::string& cwd, std::string* drive_root,
                               std::string* below) const;

  // The path that leads to a drive's folder: its entry in the drives
  // folder, else the folder found for it, else the entry as it would be.
  std::string EntryOf(char letter) const;

  std::string drives_folder_;
  std::map<char, std::string> found_;
  std::function<void(char)> say_unmapped_;
  mutable std::set<char> said_;
};

// True when Windows accepts the name: no control character, none of
// <>"|?*, and a colon only right after a single leading drive letter.
bool IsValidWindowsName(std::string_view name);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_DRIVE_MAP_H_
