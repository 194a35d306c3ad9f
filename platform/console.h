// The standard handles, as GetStdHandle, GetFileType, ReadFile and WriteFile
// offer them: bytes in and out, no code-page conversion.
#ifndef VENDREL_PLATFORM_CONSOLE_H_
#define VENDREL_PLATFORM_CONSOLE_H_

#include <cstddef>

#include "platform/win_codes.h"

namespace vendrel::platform {

class Console {
 public:
  virtual ~Console() = default;

  // True when standard output is a console (a terminal), false for a file
  // or a pipe.
  virtual bool OutputIsConsole() = 0;

  // Writes size bytes to standard output; *written receives how many went.
  virtual WinCode WriteOutput(const char* data, std::size_t size, std::size_t* written) = 0;

  // Reads up to capacity bytes from standard input. At the end of input it
  // succeeds with *read set to 0.
  virtual WinCode ReadInput(char* buffer, std::size_t capacity, std::size_t* read) = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_CONSOLE_H_
