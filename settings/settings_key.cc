#include "settings/settings_key.h"

#include <vector>

#include "platform/error.h"

namespace vendrel {

SettingsKey::SettingsKey(platform::Registry& registry) : registry_(registry) {}

SettingsKey::~SettingsKey() { Close(); }

void SettingsKey::SetRoot(platform::RootKey root) {
  if (root == root_) return;
  Close();
  root_ = root;
}

bool SettingsKey::Open(const std::string& path) {
  std::string relative = path.substr(path.empty() ? 0 : 1);
  platform::KeyHandle handle = 0;
  if (registry_.OpenKey(root_, relative, access_, &handle) != platform::kSuccess) return false;
  Close();
  key_ = handle;
  current_path_ = relative;
  return true;
}

std::string SettingsKey::ReadText(const std::string& name) {
  if (!key_) return std::string();
  std::uint32_t type = platform::kRegNone;
  std::uint32_t size = 0;
  if (registry_.QueryValue(*key_, name, &type, nullptr, &size) != platform::kSuccess || size == 0) {
    return std::string();
  }
  // One NUL behind the buffer the platform fills, so that text without its
  // own terminator still ends.
  std::vector<std::uint8_t> buffer(std::size_t{size} + 1, 0);
  if (registry_.QueryValue(*key_, name, &type, buffer.data(), &size) != platform::kSuccess) {
    throw Error(ErrorKind::kRegistry, "Failed to get data for '" + name + "'",
                RaiseSite::kRegistryGetData);
  }
  if (type != platform::kRegSz && type != platform::kRegExpandSz) {
    throw Error(ErrorKind::kRegistry, "Invalid data type for '" + name + "'",
                RaiseSite::kRegistryInvalidType);
  }
  const char* text = reinterpret_cast<const char*>(buffer.data());
  return std::string(text);
}

void SettingsKey::WriteText(const std::string& name, const std::string& text) {
  platform::WinCode result = platform::kAccessDenied;
  if (key_) {
    result = registry_.SetValue(*key_, name, platform::kRegSz,
                                reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                static_cast<std::uint32_t>(text.size() + 1));
  }
  if (result != platform::kSuccess) {
    throw Error(ErrorKind::kRegistry, "Failed to set data for '" + name + "'",
                RaiseSite::kRegistrySetData);
  }
}

void SettingsKey::Close() {
  if (!key_) return;
  if (!lazy_write_) registry_.FlushKey(*key_);
  registry_.CloseKey(*key_);
  key_.reset();
  current_path_.clear();
}

}  // namespace vendrel
