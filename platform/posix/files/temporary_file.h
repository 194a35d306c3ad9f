// Temporary files beside a file being rewritten. Where the file system
// allows it, a temporary file has no name until it is complete (O_TMPFILE),
// and gets one by linkat from its own descriptor; elsewhere it is created
// under a new name with O_EXCL, never through a link. The run that writes
// one holds an exclusive lock on it for as long as it stands under its
// temporary name, so a later run can tell a dead run's leftover (which it
// can lock) from a live run's work (which it cannot) without guessing by age.
#ifndef VENDREL_PLATFORM_POSIX_FILES_TEMPORARY_FILE_H_
#define VENDREL_PLATFORM_POSIX_FILES_TEMPORARY_FILE_H_

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {

struct TemporaryFile {
  UniqueFd fd;         // open for reading and writing, and locked
  int folder = -1;     // the folder it is in (borrowed)
  std::string name;    // empty while it has no name
  std::string target;  // the name it stands beside
};

// Creates a temporary file in folder for the file named target there, with
// the mode given (less the umask, or as the folder's default ACL has it).
// Returns 0 or an errno value.
int CreateTemporary(int folder, const std::string& target, mode_t mode, TemporaryFile* temporary);

// Gives an unnamed temporary file its name, ".<target>.vendrel-XXXXXX", cut
// so that the whole fits in a file name's 255 bytes. Returns 0 or an errno
// value.
int NameTemporary(TemporaryFile* temporary);

// Links the complete temporary file in folder as name, which must not exist
// yet (EEXIST). Returns 0 or an errno value.
int LinkTemporaryAs(const TemporaryFile& temporary, const std::string& name);

// Removes a temporary file that is done with.
void RemoveTemporary(TemporaryFile* temporary);

// True for a name NameTemporary gives.
bool IsTemporaryName(std::string_view name);

// Removes the temporary files in folder that no live run holds: only
// regular files, looked at before they are opened. Quiet: a folder that
// cannot be listed, or a file that cannot be opened, is left.
void ClearDeadTemporaries(int folder);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_TEMPORARY_FILE_H_
