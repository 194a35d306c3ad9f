// A file the operator names by its path, that lies on a disk the program
// does not trust: a registry hive on a mounted Windows disk.
//
// The operator chose the disk, but the names below its top are the disk's.
// The top is the deepest folder the path names, before any link of its
// own, that is a drive's folder (reached by name or through the drive's
// entry) or the top of a mounted file system. Beneath it the rest of the
// path is placed as on a drive: absolute links resolve against the top,
// ".." stops at it, and below a mount point no link leads to another file
// system. A drive path ("C:\Windows\System32\config\SOFTWARE") is placed
// beneath its drive.
#ifndef VENDREL_PLATFORM_POSIX_FILES_DISK_FILE_H_
#define VENDREL_PLATFORM_POSIX_FILES_DISK_FILE_H_

#include <string>

#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/placed_file.h"

namespace vendrel::platform {

// Places the file at path, which must exist; drives may be null (no drive
// is mapped). Returns 0 or an errno value: EXDEV for a link that leads off
// a mounted disk's file system.
int PlaceOnItsDisk(const DriveMap* drives, const std::string& path, PlacedFile* placed);

// The same, once: a file placed already keeps its place.
int PlaceOnItsDiskOnce(const DriveMap* drives, const std::string& path, PlacedFile* placed);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_DISK_FILE_H_
