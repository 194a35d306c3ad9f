// The standard handles, as GetStdHandle, GetFileType, ReadFile and WriteFile
// offer them: bytes in and out, no code-page conversion.
#ifndef VENDREL_PLATFORM_CONSOLE_H_
#define VENDREL_PLATFORM_CONSOLE_H_

#include <cstddef>

#include "base/result.h"

namespace vendrel::platform {

enum class OutputKind { kConsole, kFileOrPipe };

class Console {
 public:
  virtual ~Console() = default;

  // What standard output is, as GetFileType tells it: a console (a
  // terminal) is written at once, a file or a pipe in blocks.
  virtual OutputKind OutputType() = 0;

  // Writes size bytes to standard output; *written receives how many went.
  virtual Result WriteOutput(const char* data, std::size_t size, std::size_t* written) = 0;

  // Reads up to capacity bytes from standard input. At the end of input it
  // succeeds with *read set to 0.
  virtual Result ReadInput(char* buffer, std::size_t capacity, std::size_t* read) = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_CONSOLE_H_
