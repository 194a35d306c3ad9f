// Read-modify-write of a whole file that never tears it and never loses a
// concurrent writer's change: an exclusive lock on the file, a temporary
// file beside it, flushed to disk, then renamed over it.
#ifndef VENDREL_PLATFORM_POSIX_ATOMIC_UPDATE_H_
#define VENDREL_PLATFORM_POSIX_ATOMIC_UPDATE_H_

#include <functional>
#include <optional>
#include <string>

namespace vendrel::platform {

// Given the file's content (null when it does not exist; the edit may take
// it over), returns the new content, or nothing to leave the file untouched.
using FileEdit = std::function<std::optional<std::string>(std::string* old_content)>;

enum class WhenMissing { kFail, kCreate };

// Returns 0 or an errno value. A file without any write permission bit is
// refused with EACCES, whoever runs the program. A symbolic link stays a
// link: the file it points to is the one replaced. An exception from edit
// passes through with the file untouched.
int UpdateFileAtomically(const std::string& path, WhenMissing when_missing, const FileEdit& edit);

// Follows symbolic links to the file they end at, which may not exist yet.
// Returns 0 or an errno value (ELOOP for a loop).
int ResolveLinks(const std::string& path, std::string* resolved);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_ATOMIC_UPDATE_H_
