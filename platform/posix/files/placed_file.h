// Where a file stands, held as its folder's descriptor and its name there.
// A name on a disk the program does not trust is looked up once, beneath
// the disk's folder; every later step goes through the folder's descriptor
// (openat, renameat, linkat, unlinkat), so that nothing on the disk can
// swap a folder or a link under the program between two steps.
#ifndef VENDREL_PLATFORM_POSIX_FILES_PLACED_FILE_H_
#define VENDREL_PLATFORM_POSIX_FILES_PLACED_FILE_H_

#include <sys/stat.h>

#include <string>

#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {

struct PlacedFile {
  UniqueFd folder;    // an O_PATH descriptor of the folder that holds the file
  std::string name;   // one name in that folder, not a link (the link's end instead)
  std::string shown;  // where it is on this machine, for reports only
};

// Opens relative beneath root as if root were "/": an absolute link resolves
// against root and ".." stops at its top; magic links (/proc) are never
// followed, and with one_file_system no mount point is crossed (EXDEV).
// Where the kernel cannot confine a lookup so (no openat2), links are not
// followed at all. Returns 0 or an errno value.
int OpenBeneath(int root, const std::string& relative, int flags, UniqueFd* out,
                bool one_file_system = false);

// False where the kernel cannot confine a lookup, and links beneath a
// drive are then not followed at all.
bool CanFollowLinksBeneath();
// Looks up as a kernel without openat2 would (or as this one does again):
// for tests of that path.
void LookUpWithoutOpenat2(bool without);

// Places a path the operator gave (a VENDREL_* variable): trusted, its links
// followed as the system follows them, to the file they end at.
int PlaceTrusted(const std::string& path, PlacedFile* placed);

// The path the kernel gives for a path the operator gave, its links
// followed; empty when there is none (a working directory that was removed).
std::string RealPath(const std::string& path);

// The same, once: a file placed already keeps its place.
int PlaceTrustedOnce(const std::string& path, PlacedFile* placed);

// The status of the placed name itself (a link is not followed). Returns 0
// or an errno value.
int StatPlaced(const PlacedFile& placed, struct stat* status);

// Opens the placed file, which must be a regular file: its type is checked
// before the open and again on the descriptor, and the open neither follows
// a link nor waits nor takes a terminal. Anything but a regular file is
// ENODEV, a folder EISDIR. Returns 0 or an errno value.
int OpenPlaced(const PlacedFile& placed, int flags, UniqueFd* fd, struct stat* status);

// True while the name still stands for the file described by held.
bool StillPlaced(const PlacedFile& placed, const struct stat& held);

// A readable descriptor of the folder (to list or flush it), or none.
UniqueFd ReadableFolder(int folder);

// Flushes the folder after a name in it changed, where it can be opened for
// that. Never a failure: the change is in place before the flush.
void FlushFolder(int folder);

// The folder's path on this machine, for reports.
std::string FolderPathOf(int folder);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_PLACED_FILE_H_
