#include "platform/posix/posix_console.h"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/win_error_map.h"

namespace vendrel::platform {

PosixConsole::PosixConsole(int output_fd, int input_fd)
    : output_fd_(output_fd), input_fd_(input_fd) {}

OutputKind PosixConsole::OutputType() {
  return isatty(output_fd_) == 1 ? OutputKind::kConsole : OutputKind::kFileOrPipe;
}

Result PosixConsole::WriteOutput(const char* data, std::size_t size, std::size_t* written) {
  *written = 0;
  for (;;) {
    ssize_t result = write(output_fd_, data, size);
    if (result >= 0) {
      *written = static_cast<std::size_t>(result);
      return kSuccess;
    }
    if (errno != EINTR) return WinCodeFromErrno(errno);
  }
}

Result PosixConsole::ReadInput(char* buffer, std::size_t capacity, std::size_t* read_count) {
  *read_count = 0;
  for (;;) {
    ssize_t result = read(input_fd_, buffer, capacity);
    if (result >= 0) {
      *read_count = static_cast<std::size_t>(result);
      return kSuccess;
    }
    if (errno != EINTR) return WinCodeFromErrno(errno);
  }
}

}  // namespace vendrel::platform
