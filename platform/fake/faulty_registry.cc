#include "platform/fake/faulty_registry.h"

namespace vendrel::platform {

Result FaultyRegistry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                               KeyHandle* key) {
  if (WinCode code = plan_.Next("RegOpenKeyExA")) return code;
  return inner_.OpenKey(root, sub_key, access, key);
}

Result FaultyRegistry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) {
  if (WinCode code =
          plan_.Next(data == nullptr ? "RegQueryValueExA(size)" : "RegQueryValueExA(data)")) {
    return code;
  }
  return inner_.QueryValue(key, name, type, data, size);
}

Result FaultyRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) {
  if (WinCode code = plan_.Next("RegSetValueExA")) return code;
  return inner_.SetValue(key, name, type, data, size);
}

Result FaultyRegistry::FlushKey(KeyHandle key) {
  if (WinCode code = plan_.Next("RegFlushKey")) return code;
  return inner_.FlushKey(key);
}

// The handle is gone either way, as with a failed CloseHandle.
Result FaultyRegistry::CloseKey(KeyHandle key) {
  Result closed = inner_.CloseKey(key);
  if (WinCode code = plan_.Next("RegCloseKey")) return code;
  return closed;
}

}  // namespace vendrel::platform
