#include "platform/posix/registry/routed_registry.h"

namespace vendrel::platform {

const RoutedRegistry::Route* RoutedRegistry::Find(KeyHandle key) const {
  auto found = routes_.find(key);
  return found == routes_.end() ? nullptr : &found->second;
}

Result RoutedRegistry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                               KeyHandle* key) {
  Registry& registry = root == RootKey::kLocalMachine ? local_machine_ : current_user_;
  KeyHandle inner = 0;
  Result opened = registry.OpenKey(root, sub_key, access, &inner);
  if (!opened.ok()) return opened;
  *key = next_handle_++;
  routes_[*key] = Route{&registry, inner};
  return kSuccess;
}

Result RoutedRegistry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) {
  const Route* route = Find(key);
  if (route == nullptr) return kInvalidHandle;
  return route->first->QueryValue(route->second, name, type, data, size);
}

Result RoutedRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) {
  const Route* route = Find(key);
  if (route == nullptr) return kInvalidHandle;
  return route->first->SetValue(route->second, name, type, data, size);
}

Result RoutedRegistry::FlushKey(KeyHandle key) {
  const Route* route = Find(key);
  if (route == nullptr) return kInvalidHandle;
  return route->first->FlushKey(route->second);
}

Result RoutedRegistry::CloseKey(KeyHandle key) {
  auto found = routes_.find(key);
  if (found == routes_.end()) return kInvalidHandle;
  Route route = found->second;
  routes_.erase(found);
  return route.first->CloseKey(route.second);
}

}  // namespace vendrel::platform
