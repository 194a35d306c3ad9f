#include "platform/win32/win32_process.h"

#include "platform/win32/windows_api.h"

namespace vendrel::platform {

std::optional<std::string> Win32Process::CommandLineText() {
  const char* line = GetCommandLineA();
  return std::string(line != nullptr ? line : "");
}

std::string Win32Process::ModuleFileName() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
}

}  // namespace vendrel::platform
