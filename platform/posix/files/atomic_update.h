// Read-modify-write of a whole file that never loses a concurrent writer's
// change and never leaves a torn file for the next reader: an exclusive
// lock on the file; then a new file beside it, flushed to disk and renamed
// over it, where the new file can carry everything the old one carries;
// else the file rewritten in place under a journal. The file is opened
// once, through its folder's descriptor; the steps after go through
// descriptors too.
#ifndef VENDREL_PLATFORM_POSIX_FILES_ATOMIC_UPDATE_H_
#define VENDREL_PLATFORM_POSIX_FILES_ATOMIC_UPDATE_H_

#include <sys/stat.h>

#include <functional>
#include <string>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/placed_file.h"
#include "platform/posix/files/temporary_file.h"
#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {

// How long a run waits for another holder of a file's lock before it gives
// the file up as in use.
constexpr int kLockWaitMilliseconds = 5000;

// Given the file's content (null when it does not exist; the edit may take
// it over, and edit it in place), returns the content to write, which the
// edit's side keeps, or null to leave the file untouched.
using FileEdit = std::function<const std::string*(std::string* old_content)>;

enum class WhenMissing { kFail, kCreate };

// Returns 0 or an errno value: EAGAIN when another holds the lock past the
// wait, EBUSY when the journal's name is taken by something this program
// did not write, EOVERFLOW for a file of more than cap bytes, ENODEV for
// anything but a regular file. A file the running user may not write is
// refused, whatever its folder allows (an open for writing decides, as the
// kernel judges it; a file without any write bit is refused even to root).
// The new file keeps the old one's owner, group, permissions, ACLs and
// extended attributes; a file with several names stays one file.
// Temporary files that dead runs left in the folder are removed. An
// exception from edit passes through with the file untouched. Once the new
// content is in place, the update has succeeded, whatever flushing the
// folder then meets.
int UpdateFileAtomically(const PlacedFile& placed, WhenMissing when_missing, std::size_t cap,
                         const FileEdit& edit);

// A file held under its exclusive lock for a change, as UpdateFileAtomically
// holds it: open for reading and writing, any rewrite a stopped run left on
// it completed, the temporary files dead runs left beside it gone. The lock
// goes with the object.
class LockedFile {
 public:
  LockedFile() = default;
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Returns 0 or an errno value, as UpdateFileAtomically does. With
  // pending given, a whole journal a stopped run left is not completed
  // but its content given there (empty for none), and the journal stays
  // until DropJournal.
  static int Lock(const PlacedFile& placed, std::size_t cap, LockedFile* locked,
                  std::string* pending = nullptr);

  int fd() const { return fd_.get(); }
  const struct stat& status() const { return held_; }
  // Removes the journal whose content Lock gave.
  void DropJournal();

  // Puts content in the file's place, keeping what the file carries.
  int Replace(const std::string& content);
  // The same, with the new content written by write into a new, empty
  // temporary file, open for reading and writing as fd (a library that
  // writes a file by its name takes /proc/self/fd/<fd>). write returns 0 or
  // an errno value.
  using Writer = std::function<int(int fd)>;
  int ReplaceWith(const Writer& write);

  // Holds room on the disk for a new content of up to length bytes, for a
  // change made in steps: a full disk, a quota or a file-size limit is then
  // met by the step that asks, while the file is still as it was, rather
  // than when the content is put in place. The room is a new file beside
  // the file, which the replacement then fills; for a file rewritten in
  // place, it is given up for the journal. Returns 0 or an errno value.
  int Reserve(std::size_t length);

  // For a change written in place: room for the file to grow to length,
  // and for a journal of up to journal bytes (held beside the file, and
  // given up for the journal when the change is written).
  int ReserveInPlace(std::size_t length, std::size_t journal);
  // Gives up the room held beside the file, to a change written in place
  // that takes it.
  void GiveUpRoom();

 private:
  // Renames the complete, named temporary file over the file. Returns 0 or
  // an errno value: ESTALE when what came into place was not the
  // temporary file (another process took its name over).
  int PutInPlace(TemporaryFile* temporary);
  // A temporary file beside the file, flushed with what write put in it:
  // the reserved one where there is one.
  int WriteTemporary(const Writer& write, TemporaryFile* temporary);
  // Room for length bytes in the temporary file held beside the file.
  int HoldBeside(std::size_t length);

  UniqueFd folder_;
  std::string name_;
  std::size_t cap_ = 0;
  UniqueFd fd_;
  struct stat held_ {};
  TemporaryFile reserved_;
  std::size_t reserved_length_ = 0;
};

// A file open for reading under a shared lock, settled: when a stopped run
// left a rewrite pending, what is read is the content the rewrite completes
// it to, so that a file is never read torn.
class SettledFile {
 public:
  // Returns 0 or an errno value, as UpdateFileAtomically does.
  static int Open(const PlacedFile& placed, std::size_t cap, SettledFile* settled);

  int fd() const { return content_ ? content_.get() : fd_.get(); }  // at offset 0
  const struct stat& status() const { return held_; }               // the file's

 private:
  UniqueFd fd_;
  UniqueFd content_;  // a pending rewrite's content, in memory
  struct stat held_ {};
};

// Reads a whole settled file. Returns 0 or an errno value.
int ReadWholeFile(const PlacedFile& placed, std::size_t cap, std::string* content);

// 0 when the running user may write the placed file, as the kernel judges
// an open for writing (effective user and groups, ACLs, a read-only mount:
// EROFS), and the file has a write bit for someone (no write bit at all
// refuses even root, as the read-only attribute does on Windows); else an
// errno value.
int MayWrite(const PlacedFile& placed);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_ATOMIC_UPDATE_H_
