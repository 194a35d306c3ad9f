#include "platform/win32/win32_profile.h"

#include <windows.h>

namespace vendrel::platform {
namespace {

const char* OrNull(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

bool Win32ProfileWriter::WriteEntry(const std::optional<std::string>& section,
                                    const std::optional<std::string>& key,
                                    const std::optional<std::string>& value,
                                    const std::string& file_name) {
  return WritePrivateProfileStringA(OrNull(section), OrNull(key), OrNull(value),
                                    file_name.c_str()) != 0;
}

}  // namespace vendrel::platform
