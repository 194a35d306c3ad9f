// The registry, as the ANSI registry functions of advapi32 offer it. Every
// call answers with a Result: kSuccess, or the Windows code of the failure.
// A registry whose own storage is damaged or unreadable answers
// kRegistryCorrupt or kRegistryIoFailed, with the detail in words.
#ifndef VENDREL_PLATFORM_REGISTRY_H_
#define VENDREL_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>

#include "base/result.h"

namespace vendrel::platform {

enum class RootKey : std::uint32_t {
  kCurrentUser = 0x80000001,
  kLocalMachine = 0x80000002,
};

// An open key, as handed out by OpenKey; meaningful only to the registry
// that issued it.
using KeyHandle = std::uintptr_t;

constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

constexpr std::uint32_t kKeyAllAccess = 0xF003F;

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExA(root, sub_key, 0, access, key). Never creates the key.
  virtual Result OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                         KeyHandle* key) = 0;

  // RegQueryValueExA. With data null it is the size query: *type and *size
  // receive the value's type and byte count. Otherwise *size is the buffer's
  // size on entry and the data's size on return; a buffer that is too small
  // gives kMoreData.
  virtual Result QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t* size) = 0;

  // RegSetValueExA(key, name, 0, type, data, size).
  virtual Result SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) = 0;

  // RegFlushKey: the key's values are on permanent storage when it returns.
  virtual Result FlushKey(KeyHandle key) = 0;

  // RegCloseKey: releases the handle.
  virtual Result CloseKey(KeyHandle key) = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_REGISTRY_H_
