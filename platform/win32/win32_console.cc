#include "platform/win32/win32_console.h"

#include <algorithm>

namespace vendrel::platform {
namespace {

// One call moves at most this much, so a size always fits a DWORD.
constexpr std::size_t kMaxTransfer = 1u << 20;

}  // namespace

Win32Console::Win32Console()
    : output_(GetStdHandle(STD_OUTPUT_HANDLE)), input_(GetStdHandle(STD_INPUT_HANDLE)) {}

OutputKind Win32Console::OutputType() {
  return GetFileType(output_) == FILE_TYPE_CHAR ? OutputKind::kConsole : OutputKind::kFileOrPipe;
}

Result Win32Console::WriteOutput(const char* data, std::size_t size, std::size_t* written) {
  DWORD wrote = 0;
  BOOL ok =
      WriteFile(output_, data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &wrote, nullptr);
  *written = wrote;
  return ok ? kSuccess : GetLastError();
}

Result Win32Console::ReadInput(char* buffer, std::size_t capacity, std::size_t* read) {
  DWORD got = 0;
  BOOL ok =
      ReadFile(input_, buffer, static_cast<DWORD>(std::min(capacity, kMaxTransfer)), &got, nullptr);
  *read = got;
  return ok ? kSuccess : GetLastError();
}

}  // namespace vendrel::platform
