// Linked into the crash-test build only. VENDREL_CRASH_AFTER=N kills the
// process with SIGKILL right after its N-th store-changing system call, as
// "kill -9" would: no destructor, no buffered output, no unlock but the
// kernel's. With VENDREL_CRASH_LOSE_UNFLUSHED=1 it is a power cut: before
// dying it puts back what each file held at its last flush, undoing every
// write since.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/files/crash_point.h"

namespace vendrel::platform {
namespace {

long CrashLimit() {
  const char* text = std::getenv("VENDREL_CRASH_AFTER");
  return text == nullptr ? 0 : std::strtol(text, nullptr, 10);
}

bool LosesUnflushed() {
  const char* text = std::getenv("VENDREL_CRASH_LOSE_UNFLUSHED");
  return text != nullptr && std::strcmp(text, "1") == 0;
}

// A write not yet flushed: what it overwrote, through a descriptor of its own.
struct Unflushed {
  dev_t device;
  ino_t inode;
  int fd;
  off_t at;
  std::string old_bytes;
  off_t old_size;
};

std::vector<Unflushed>& Pending() {
  static std::vector<Unflushed> pending;
  return pending;
}

void LoseUnflushed() {
  for (auto write = Pending().rbegin(); write != Pending().rend(); ++write) {
    (void)!pwrite(write->fd, write->old_bytes.data(), write->old_bytes.size(), write->at);
    (void)!ftruncate(write->fd, write->old_size);
  }
}

}  // namespace

void CrashPointAfter(const char* call) {
  static const long limit = CrashLimit();
  static long count = 0;
  if (limit <= 0 || ++count != limit) return;
  if (LosesUnflushed()) LoseUnflushed();
  const std::string note = "crash point " + std::to_string(count) + " after " + call + "\n";
  (void)!write(STDERR_FILENO, note.data(), note.size());
  kill(getpid(), SIGKILL);
}

void CrashPointBeforeWrite(int fd, off_t offset, std::size_t size) {
  struct stat status;
  if (!LosesUnflushed() || fstat(fd, &status) != 0) return;
  const off_t at = offset >= 0 ? offset : lseek(fd, 0, SEEK_CUR);
  std::string old_bytes(size, '\0');
  const ssize_t got = pread(fd, old_bytes.data(), size, at);
  old_bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  Pending().push_back(
      {status.st_dev, status.st_ino, dup(fd), at, std::move(old_bytes), status.st_size});
}

void CrashPointFlushed(int fd) {
  struct stat status;
  if (Pending().empty() || fstat(fd, &status) != 0) return;
  auto flushed = [&](const Unflushed& write) {
    return write.device == status.st_dev && write.inode == status.st_ino;
  };
  for (const Unflushed& write : Pending()) {
    if (flushed(write)) close(write.fd);
  }
  Pending().erase(std::remove_if(Pending().begin(), Pending().end(), flushed), Pending().end());
}

}  // namespace vendrel::platform
