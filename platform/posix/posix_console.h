#ifndef VENDREL_PLATFORM_POSIX_POSIX_CONSOLE_H_
#define VENDREL_PLATFORM_POSIX_POSIX_CONSOLE_H_

#include "platform/console.h"

namespace vendrel::platform {

// Standard output and input by file descriptor; a terminal counts as the
// console.
class PosixConsole : public Console {
 public:
  PosixConsole(int output_fd, int input_fd);

  OutputKind OutputType() override;
  Result WriteOutput(const char* data, std::size_t size, std::size_t* written) override;
  Result ReadInput(char* buffer, std::size_t capacity, std::size_t* read) override;

 private:
  int output_fd_;
  int input_fd_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_POSIX_CONSOLE_H_
