// A file descriptor that closes itself.
#ifndef VENDREL_PLATFORM_POSIX_FILES_UNIQUE_FD_H_
#define VENDREL_PLATFORM_POSIX_FILES_UNIQUE_FD_H_

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vendrel::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Gives the descriptor up to a new owner.
  int Release() { return std::exchange(fd_, -1); }

  // Closes now and reports the result: 0 or an errno value.
  int Close() {
    int fd = std::exchange(fd_, -1);
    if (fd < 0) return 0;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_UNIQUE_FD_H_
