#include "platform/fake/memory_registry.h"

#include "base/text.h"
#include "platform/query_answer.h"

namespace vendrel::platform {

MemoryRegistry::KeyId MemoryRegistry::Id(RootKey root, const std::string& path) {
  return {root, UpperCase(path)};
}

void MemoryRegistry::AddKey(RootKey root, const std::string& path) { keys_[Id(root, path)]; }

void MemoryRegistry::Put(RootKey root, const std::string& path, const std::string& name,
                         StoredValue value) {
  keys_[Id(root, path)].values[UpperCase(name)] = {name, std::move(value)};
}

void MemoryRegistry::PutText(RootKey root, const std::string& path, const std::string& name,
                             const std::string& text) {
  Put(root, path, name, StoredValue{kRegSz, text + std::string(1, '\0')});
}

std::optional<StoredValue> MemoryRegistry::Get(RootKey root, const std::string& path,
                                               const std::string& name) const {
  auto key = keys_.find(Id(root, path));
  if (key == keys_.end()) return std::nullopt;
  auto value = key->second.values.find(UpperCase(name));
  if (value == key->second.values.end()) return std::nullopt;
  return value->second.second;
}

void MemoryRegistry::RefuseAccess(RootKey root, const std::string& path) {
  keys_[Id(root, path)].refused = true;
}

Result MemoryRegistry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t,
                               KeyHandle* key) {
  auto found = keys_.find(Id(root, sub_key));
  if (found == keys_.end()) return kFileNotFound;
  if (found->second.refused) return kAccessDenied;
  *key = next_handle_++;
  handles_[*key] = found->first;
  return kSuccess;
}

Result MemoryRegistry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) {
  auto handle = handles_.find(key);
  if (handle == handles_.end()) return kInvalidHandle;
  auto& values = keys_[handle->second].values;
  auto value = values.find(UpperCase(name));
  if (value == values.end()) return kFileNotFound;
  const StoredValue& stored = value->second.second;
  return AnswerQuery(stored.type, stored.data, type, data, size);
}

Result MemoryRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) {
  auto handle = handles_.find(key);
  if (handle == handles_.end()) return kInvalidHandle;
  auto& values = keys_[handle->second].values;
  auto& slot = values[UpperCase(name)];
  if (slot.first.empty()) slot.first = name;
  slot.second = StoredValue{type, std::string(reinterpret_cast<const char*>(data), size)};
  return kSuccess;
}

Result MemoryRegistry::FlushKey(KeyHandle key) {
  if (handles_.count(key) == 0) return kInvalidHandle;
  ++flushes_;
  return kSuccess;
}

Result MemoryRegistry::CloseKey(KeyHandle key) {
  return handles_.erase(key) != 0 ? kSuccess : kInvalidHandle;
}

}  // namespace vendrel::platform
