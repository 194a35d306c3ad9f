// SettingsKey: the access object over one registry key of the product.
#ifndef VENDREL_SETTINGS_SETTINGS_KEY_H_
#define VENDREL_SETTINGS_SETTINGS_KEY_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace vendrel {

// The product's key, from the root of a hive.
inline constexpr const char* kSettingsKeyPath = "\\Software\\Tarvel Global";

// Raises the ERegistryException of a set of the value name that the
// registry answered with result; nothing when it succeeded.
void RaiseIfNotSet(const std::string& name, const Result& result);

class SettingsKey {
 public:
  explicit SettingsKey(platform::Registry& registry);
  ~SettingsKey();
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  // Changing the root closes any open key.
  void SetRoot(platform::RootKey root);
  void SetLazyWrite(bool lazy_write) { lazy_write_ = lazy_write; }

  // Opens a path that begins with a backslash, below the root. Never
  // creates the key; false when it cannot be opened.
  bool Open(const std::string& path);

  // A text value; empty text when the value is absent or of zero size.
  std::string ReadText(const std::string& name);
  // Stores a REG_SZ, its terminating NUL included.
  void WriteText(const std::string& name, const std::string& text);

  // With lazy write off the key is flushed first, so that what was written
  // is on permanent storage when Close returns.
  void Close();
  // Close, answering with the flush's result: kSuccess with lazy write on
  // or no key open. A registry that keeps the sets until the flush has
  // lost them when the flush fails.
  Result CloseFlushed();

  bool is_open() const { return key_.has_value(); }
  const std::string& current_path() const { return current_path_; }

 private:
  platform::Registry& registry_;
  std::optional<platform::KeyHandle> key_;
  platform::RootKey root_ = platform::RootKey::kCurrentUser;
  bool lazy_write_ = true;
  std::string current_path_;
  std::uint32_t access_ = platform::kKeyAllAccess;
};

}  // namespace vendrel

#endif  // VENDREL_SETTINGS_SETTINGS_KEY_H_
