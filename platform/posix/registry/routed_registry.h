// The registry of the Linux build as one: each hive served by a registry of
// its own (a hive file where one is named, else the store), the handles of
// both kept apart.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_ROUTED_REGISTRY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_ROUTED_REGISTRY_H_

#include <map>
#include <utility>

#include "platform/registry.h"

namespace vendrel::platform {

class RoutedRegistry : public Registry {
 public:
  RoutedRegistry(Registry& local_machine, Registry& current_user)
      : local_machine_(local_machine), current_user_(current_user) {}

  Result OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                 KeyHandle* key) override;
  Result QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Result SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
  Result FlushKey(KeyHandle key) override;
  Result CloseKey(KeyHandle key) override;

 private:
  // The registry that issued a handle, and the handle it gave.
  using Route = std::pair<Registry*, KeyHandle>;
  const Route* Find(KeyHandle key) const;

  Registry& local_machine_;
  Registry& current_user_;
  std::map<KeyHandle, Route> routes_;
  KeyHandle next_handle_ = 0x500;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_ROUTED_REGISTRY_H_
