// An in-memory registry for tests, with the same answers as the real one.
#ifndef VENDREL_PLATFORM_FAKE_MEMORY_REGISTRY_H_
#define VENDREL_PLATFORM_FAKE_MEMORY_REGISTRY_H_

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/registry.h"

namespace vendrel::platform {

struct StoredValue {
  std::uint32_t type = 0;
  std::string data;

  bool operator==(const StoredValue& other) const {
    return type == other.type && data == other.data;
  }
};

class MemoryRegistry : public Registry {
 public:
  void AddKey(RootKey root, const std::string& path);
  void Put(RootKey root, const std::string& path, const std::string& name, StoredValue value);
  // A REG_SZ with its terminating NUL.
  void PutText(RootKey root, const std::string& path, const std::string& name,
               const std::string& text);
  std::optional<StoredValue> Get(RootKey root, const std::string& path,
                                 const std::string& name) const;
  // Keys no one may open with all access, as a non-administrator meets
  // the machine-wide hive.
  void RefuseAccess(RootKey root, const std::string& path);

  int open_handles() const { return static_cast<int>(handles_.size()); }
  int flushes() const { return flushes_; }

  Result OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                 KeyHandle* key) override;
  Result QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Result SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
  Result FlushKey(KeyHandle key) override;
  Result CloseKey(KeyHandle key) override;

 private:
  using KeyId = std::pair<RootKey, std::string>;  // path upper-cased
  struct Key {
    bool refused = false;
    std::map<std::string, std::pair<std::string, StoredValue>> values;  // by upper-cased name
  };

  static KeyId Id(RootKey root, const std::string& path);

  std::map<KeyId, Key> keys_;
  std::map<KeyHandle, KeyId> handles_;
  KeyHandle next_handle_ = 0x200;
  int flushes_ = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_MEMORY_REGISTRY_H_
