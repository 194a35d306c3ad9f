// A Windows system volume, mounted where VENDREL_WINDOWS says, and what a
// run finds on it when no other variable says otherwise: the SOFTWARE hive
// (HKEY_LOCAL_MACHINE\Software), the letter the volume had (its Windows'
// SystemRoot), that Windows' ANSI code page (the SYSTEM hive's), and the
// user profile whose NTUSER.DAT is HKEY_CURRENT_USER (through SOFTWARE's
// ProfileList). Names on the disk match in any letter case, and nothing on
// it leads a lookup off it: a profile whose path climbs out, names another
// drive or goes through a link is never followed.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_WINDOWS_DISK_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_WINDOWS_DISK_H_

#include <string>

namespace vendrel::platform {

struct WindowsDisk {
  std::string top;             // the folder, as VENDREL_WINDOWS gives it
  char system_drive = 'c';     // its letter, in lower case
  std::string software;        // the hives, as paths on that drive
  std::string software_shown;  // and on this machine, for notes
  int code_page = 0;           // the installation's; 0 where it was not read
  std::string user_hive;       // the chosen profile's NTUSER.DAT, on the drive
  std::string user_hive_shown;
  std::string user;          // the chosen profile: its folder's name and SID
  std::string problem;       // why the disk serves no HKEY_LOCAL_MACHINE, for a report
  std::string user_problem;  // why it serves no HKEY_CURRENT_USER
};

// Finds the installation on the volume mounted at top. user: VENDREL_USER
// (a profile's folder name or SID), or empty for the only user profile.
// with_code_page: whether the SYSTEM hive is to be read for the code page.
WindowsDisk FindWindows(const std::string& top, const std::string& user, bool with_code_page);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_WINDOWS_DISK_H_
