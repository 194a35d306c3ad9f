// Read-modify-write of a whole file that never loses a concurrent writer's
// change and never leaves a torn file for the next reader: an exclusive
// lock on the file; then a new file beside it, flushed to disk and renamed
// over it, where the new file can carry everything the old one carries;
// else the file rewritten in place under a journal.
#ifndef VENDREL_PLATFORM_POSIX_FILES_ATOMIC_UPDATE_H_
#define VENDREL_PLATFORM_POSIX_FILES_ATOMIC_UPDATE_H_

#include <sys/stat.h>

#include <functional>
#include <string>

#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {

// Given the file's content (null when it does not exist; the edit may take
// it over, and edit it in place), returns the content to write, which the
// edit's side keeps, or null to leave the file untouched.
using FileEdit = std::function<const std::string*(std::string* old_content)>;

enum class WhenMissing { kFail, kCreate };

// Returns 0 or an errno value. A file the running user may not write is
// refused (MayWrite), whatever its folder allows. A symbolic link stays a
// link: the file it points to is the one updated; a file with several
// names stays one file. The new file keeps the old one's owner, group,
// permissions, ACLs and extended attributes. Temporary files that dead
// runs left in the folder are removed. An exception from edit passes
// through with the file untouched. Once the new content is in place, the
// update has succeeded, whatever flushing the folder then meets.
int UpdateFileAtomically(const std::string& path, WhenMissing when_missing, const FileEdit& edit);

// A file held under its exclusive lock for a change, as UpdateFileAtomically
// holds it: a file the user may not write refused, any rewrite a stopped run
// left on it completed, the temporary files dead runs left beside it gone.
// The lock goes with the object.
class LockedFile {
 public:
  // Returns 0 or an errno value.
  static int Lock(const std::string& path, LockedFile* locked);

  const std::string& path() const { return path_; }  // links followed
  int fd() const { return fd_.get(); }               // open for reading
  const struct stat& status() const { return held_; }

  // Puts content in the file's place, keeping what the file carries.
  int Replace(const std::string& content);
  // The same, with the new content written by write into a new, empty
  // temporary file (given by path, and open for writing as fd): for a
  // library that writes a file by its name. write returns 0 or an errno
  // value.
  using Writer = std::function<int(const std::string& path, int fd)>;
  int ReplaceWith(const Writer& write);

 private:
  std::string path_;
  UniqueFd fd_;
  struct stat held_ {};
};

// Reads a whole file under a shared lock, once any rewrite a stopped run
// left on it is completed, so that it is never read torn. Returns 0 or an
// errno value.
int ReadWholeFile(const std::string& path, std::string* content);

// 0 when the running user may write the file, as the kernel judges an open
// for writing (effective user and groups, ACLs, a read-only mount), and the
// file has a write bit for someone (no write bit at all refuses even root,
// as the read-only attribute does on Windows); else an errno value.
int MayWrite(const std::string& path);

// Follows symbolic links to the file they end at, which may not exist yet.
// Returns 0 or an errno value (ELOOP for a loop).
int ResolveLinks(const std::string& path, std::string* resolved);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_ATOMIC_UPDATE_H_
