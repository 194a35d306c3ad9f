#include "settings/settings_key.h"

#include <vector>

#include "base/error.h"

namespace vendrel {
namespace {

// A registry whose storage is damaged or unreadable is no absent key: the
// user has to hear of it, with the reason the registry gives.
void RaiseIfRegistryDamaged(const Result& result) {
  if (result.code() != kRegistryCorrupt && result.code() != kRegistryIoFailed) return;
  std::string message = result.detail();
  if (message.empty()) message = "Registry error " + std::to_string(result.code());
  throw Error(ErrorKind::kRegistry, message, RaiseSite::kRegistryStore);
}

}  // namespace

void RaiseIfNotSet(const std::string& name, const Result& result) {
  RaiseIfRegistryDamaged(result);
  if (result.ok()) return;
  std::string message = "Failed to set data for '" + name + "'";
  if (!result.detail().empty()) message += ": " + result.detail();
  throw Error(ErrorKind::kRegistry, message, RaiseSite::kRegistrySetData);
}

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
  Result opened = registry_.OpenKey(root_, relative, access_, &handle);
  RaiseIfRegistryDamaged(opened);
  if (!opened.ok()) return false;
  Close();
  key_ = handle;
  current_path_ = relative;
  return true;
}

std::string SettingsKey::ReadText(const std::string& name) {
  if (!key_) return std::string();
  std::uint32_t type = platform::kRegNone;
  std::uint32_t size = 0;
  if (!registry_.QueryValue(*key_, name, &type, nullptr, &size).ok() || size == 0) {
    return std::string();
  }
  // One NUL behind the buffer the platform fills, so that text without its
  // own terminator still ends.
  std::vector<std::uint8_t> buffer(std::size_t{size} + 1, 0);
  if (!registry_.QueryValue(*key_, name, &type, buffer.data(), &size).ok()) {
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
  Result written = kAccessDenied;
  if (key_) {
    written = registry_.SetValue(*key_, name, platform::kRegSz,
                                 reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                 static_cast<std::uint32_t>(text.size() + 1));
  }
  RaiseIfNotSet(name, written);
}

void SettingsKey::Close() { CloseFlushed().IgnoreFailure(); }

Result SettingsKey::CloseFlushed() {
  if (!key_) return kSuccess;
  Result flushed = lazy_write_ ? kSuccess : registry_.FlushKey(*key_);
  registry_.CloseKey(*key_).IgnoreFailure();
  key_.reset();
  current_path_.clear();
  return flushed;
}

}  // namespace vendrel
