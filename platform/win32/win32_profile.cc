#include "platform/win32/win32_profile.h"

#include "platform/win32/windows_api.h"

namespace vendrel::platform {
namespace {

const char* OrNull(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

Result Win32ProfileWriter::WriteEntry(const std::optional<std::string>& section,
                                      const std::optional<std::string>& key,
                                      const std::optional<std::string>& value,
                                      const std::string& file_name) {
  if (WritePrivateProfileStringA(OrNull(section), OrNull(key), OrNull(value), file_name.c_str()) !=
      0) {
    return kSuccess;
  }
  // The flush answers zero without setting an error code.
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : kInvalidParameter;
}

}  // namespace vendrel::platform
