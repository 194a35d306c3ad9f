#include "platform/posix/files/file_io.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/files/crash_point.h"

namespace vendrel::platform {

int ReadToEnd(int fd, std::string* content, std::size_t cap) {
  struct stat st;
  std::size_t expected = 0;
  if (fstat(fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return ENODEV;  // a device or a FIFO has no end to read to
  if (st.st_size > 0) {
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (at >= 0 && at < st.st_size) expected = static_cast<std::size_t>(st.st_size - at);
  }
  if (expected > cap) return EOVERFLOW;
  content->clear();
  content->reserve(expected + kEditRoom);
  std::size_t filled = 0;
  for (;;) {
    // Room for what is expected, and a little more to notice the end.
    content->resize(std::max(content->capacity(), filled + 1));
    ssize_t got = read(fd, content->data() + filled, content->size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      content->resize(filled);
      return errno;
    }
    filled += static_cast<std::size_t>(got);
    if (got == 0) break;
    if (filled > cap) {
      content->clear();
      return EOVERFLOW;
    }
    // Grown meanwhile: the buffer doubles, as a string would.
    if (filled == content->size()) content->reserve(content->size() * 2);
  }
  content->resize(filled);
  return 0;
}

int ReadAt(int fd, char* out, std::size_t size, off_t offset) {
  for (std::size_t got = 0; got < size;) {
    const ssize_t read = pread(fd, out + got, size - got, offset + static_cast<off_t>(got));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) return read < 0 ? errno : EIO;
    got += static_cast<std::size_t>(read);
  }
  return 0;
}

int WriteAll(int fd, std::string_view data, off_t offset) {
  std::size_t done = 0;
  while (done < data.size()) {
    const char* from = data.data() + done;
    const std::size_t left = data.size() - done;
    CrashPointBeforeWrite(fd, offset < 0 ? offset : offset + static_cast<off_t>(done), left);
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
  if (flushed == 0) CrashPointFlushed(fd);
  CrashPointAfter("fsync");
  return error;
}

int HoldRoom(int fd, std::size_t length) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      length > limit.rlim_cur) {
    return EFBIG;
  }
  if (length == 0 || fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length)) == 0) {
    return 0;
  }
  return errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS ? 0 : errno;
}

}  // namespace vendrel::platform
