#include "platform/posix/files/file_errors.h"

#include <cerrno>

#include "platform/posix/files/atomic_update.h"
#include "platform/posix/files/rewrite_journal.h"

namespace vendrel::platform {

std::string DescribeFileError(int error, const PlacedFile& placed, std::size_t cap) {
  switch (error) {
    case EAGAIN:
      return placed.shown + " is in use by another process (it stayed locked for " +
             std::to_string(kLockWaitMilliseconds / 1000) + " seconds)";
    case EBUSY:
      return FolderPathOf(placed.folder.get()) + "/" + JournalNameOf(placed.name) +
             " is not a journal this program wrote for " + placed.name +
             "; it was left as it is: remove it to go on";
    case EOVERFLOW:
      return placed.shown + " is larger than this program reads (" + std::to_string(cap >> 20) +
             " MiB)";
    case ESTALE:
      return placed.shown + " was taken over by another process while it was replaced; it " +
             "was left as that process made it";
    case ENODEV:
      return placed.shown + " is not a regular file";
    default:
      return std::string();
  }
}

}  // namespace vendrel::platform
