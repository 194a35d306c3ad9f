#include "platform/fake/faulty_console.h"

namespace vendrel::platform {

Result FaultyConsole::WriteOutput(const char* data, std::size_t size, std::size_t* written) {
  *written = 0;
  if (WinCode code = plan_.Next("WriteFile(stdout)")) return code;
  return inner_.WriteOutput(data, size, written);
}

Result FaultyConsole::ReadInput(char* buffer, std::size_t capacity, std::size_t* read) {
  *read = 0;
  if (WinCode code = plan_.Next("ReadFile(stdin)")) return code;
  return inner_.ReadInput(buffer, capacity, read);
}

}  // namespace vendrel::platform
