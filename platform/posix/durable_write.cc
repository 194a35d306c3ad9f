#include "platform/posix/durable_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/crash_point.h"
#include "platform/posix/unique_fd.h"

namespace vendrel::platform {

int WriteAll(int fd, std::string_view data, off_t offset) {
  std::size_t done = 0;
  while (done < data.size()) {
    const char* from = data.data() + done;
    const std::size_t left = data.size() - done;
    ssize_t wrote = offset < 0 ? write(fd, from, left)
                               : pwrite(fd, from, left, offset + static_cast<off_t>(done));
    CrashPointAfter("write");
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (wrote == 0) return ENOSPC;
    done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

int FlushFile(int fd) {
  int flushed = fsync(fd);
  int error = flushed == 0 ? 0 : errno;
  CrashPointAfter("fsync");
  return error;
}

void FlushFolder(const std::string& folder) {
  // A folder the user may write but not read cannot be opened for this.
  UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return;
  (void)fsync(dir.get());
  CrashPointAfter("fsync(directory)");
}

}  // namespace vendrel::platform
