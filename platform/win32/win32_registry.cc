#include "platform/win32/win32_registry.h"

namespace vendrel::platform {

HKEY Win32Registry::Find(KeyHandle key) const {
  auto found = keys_.find(key);
  return found == keys_.end() ? nullptr : found->second.get();
}

Result Win32Registry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                              KeyHandle* key) {
  HKEY base = root == RootKey::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY opened = nullptr;
  LONG result = RegOpenKeyExA(base, sub_key.c_str(), 0, access, &opened);
  if (result != ERROR_SUCCESS) return static_cast<WinCode>(result);
  *key = reinterpret_cast<KeyHandle>(opened);
  keys_[*key] = UniqueKeyHandle(opened);
  return kSuccess;
}

Result Win32Registry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) {
  HKEY hkey = Find(key);
  if (hkey == nullptr) return kInvalidHandle;
  DWORD value_type = 0;
  DWORD value_size = size != nullptr ? *size : 0;
  LONG result = RegQueryValueExA(hkey, name.c_str(), nullptr, &value_type, data,
                                 size != nullptr ? &value_size : nullptr);
  if (type != nullptr) *type = value_type;
  if (size != nullptr) *size = value_size;
  return static_cast<WinCode>(result);
}

Result Win32Registry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) {
  HKEY hkey = Find(key);
  if (hkey == nullptr) return kInvalidHandle;
  return static_cast<WinCode>(RegSetValueExA(hkey, name.c_str(), 0, type, data, size));
}

Result Win32Registry::FlushKey(KeyHandle key) {
  HKEY hkey = Find(key);
  if (hkey == nullptr) return kInvalidHandle;
  return static_cast<WinCode>(RegFlushKey(hkey));
}

Result Win32Registry::CloseKey(KeyHandle key) {
  auto found = keys_.find(key);
  if (found == keys_.end()) return kInvalidHandle;
  HKEY hkey = found->second.Release();
  keys_.erase(found);
  return static_cast<WinCode>(RegCloseKey(hkey));
}

}  // namespace vendrel::platform
