#ifndef VENDREL_PLATFORM_WIN32_WIN32_CONSOLE_H_
#define VENDREL_PLATFORM_WIN32_WIN32_CONSOLE_H_

#include "platform/win32/windows_api.h"

#include "platform/console.h"

namespace vendrel::platform {

// The standard handles through ReadFile and WriteFile: bytes as they are,
// without code-page conversion.
class Win32Console : public Console {
 public:
  Win32Console();

  OutputKind OutputType() override;
  Result WriteOutput(const char* data, std::size_t size, std::size_t* written) override;
  Result ReadInput(char* buffer, std::size_t capacity, std::size_t* read) override;

 private:
  HANDLE output_;
  HANDLE input_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_WIN32_WIN32_CONSOLE_H_
