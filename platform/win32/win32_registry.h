#ifndef VENDREL_PLATFORM_WIN32_WIN32_REGISTRY_H_
#define VENDREL_PLATFORM_WIN32_WIN32_REGISTRY_H_

#include <map>

#include "platform/registry.h"
#include "platform/win32/unique_handle.h"

namespace vendrel::platform {

// The registry functions of advapi32, passed straight through. Keys still
// open when the object goes are closed with it.
class Win32Registry : public Registry {
 public:
  Result OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                 KeyHandle* key) override;
  Result QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Result SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
  Result FlushKey(KeyHandle key) override;
  Result CloseKey(KeyHandle key) override;

 private:
  HKEY Find(KeyHandle key) const;

  std::map<KeyHandle, UniqueKeyHandle> keys_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_WIN32_WIN32_REGISTRY_H_
