#ifndef VENDREL_PLATFORM_POSIX_POSIX_CONSOLE_H_
#define VENDREL_PLATFORM_POSIX_POSIX_CONSOLE_H_

#include <string>
#include <string_view>

#include "platform/console.h"

namespace vendrel::platform {

// Text for a terminal: record names and values come from a disk nobody
// vouches for, and a control sequence in them could clear the screen,
// rewrite a line already shown or retitle the window. C0 bytes and DEL are
// shown in caret form (^[, ^M, ^?), C1 bytes as \x80..\x9f. The CR LF that
// ends a line goes out as it is. A CR at the end of the bytes cannot be
// judged yet: it is left out and *held_cr set, and the next call decides
// (CR LF if its bytes begin with LF, ^M otherwise).
std::string EscapeForTerminal(std::string_view bytes, bool* held_cr);

// Standard output and input by file descriptor; a terminal counts as the
// console, and only a terminal gets escaped text: a file or a pipe gets the
// bytes unchanged, since scripts read them.
class PosixConsole : public Console {
 public:
  PosixConsole(int output_fd, int input_fd);
  PosixConsole(const PosixConsole&) = delete;
  PosixConsole& operator=(const PosixConsole&) = delete;
  // A CR still held back is shown; std::exit never gets here, but every
  // line the run writes ends in CR LF, so nothing is held at its end.
  ~PosixConsole() override;

  OutputKind OutputType() override;
  Result WriteOutput(const char* data, std::size_t size, std::size_t* written) override;
  Result ReadInput(char* buffer, std::size_t capacity, std::size_t* read) override;

 private:
  // Writes all of the bytes, however many calls that takes.
  Result WriteAll(const std::string& bytes);

  int output_fd_;
  int input_fd_;
  bool escape_;
  bool held_cr_ = false;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_POSIX_CONSOLE_H_
