// Temporary files beside a file being rewritten. The run that writes one
// holds an exclusive lock on it for as long as it stands under its
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
  UniqueFd fd;  // open for reading and writing, and locked
  std::string path;
};

// Creates ".<name>.vendrel-XXXXXX" beside target, its name cut so that the
// whole fits in a file name's 255 bytes whatever the target's is, with the
// mode given (less the umask, or as the folder's default ACL has it).
// Returns 0 or an errno value.
int CreateTemporary(const std::string& target, mode_t mode, TemporaryFile* temporary);

// Removes a temporary file that is done with.
void RemoveTemporary(TemporaryFile* temporary);

// True for a name CreateTemporary makes.
bool IsTemporaryName(std::string_view name);

// Removes the temporary files in folder that no live run holds. Quiet: a
// folder that cannot be listed, or a file that cannot be opened, is left.
void ClearDeadTemporaries(const std::string& folder);

// The folder part and the name part of a path.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_TEMPORARY_FILE_H_
