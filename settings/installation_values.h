// The installation values of the product's settings key: the drive rule
// that derives the new ones, and the three uses a run makes of the key.
#ifndef VENDREL_SETTINGS_INSTALLATION_VALUES_H_
#define VENDREL_SETTINGS_INSTALLATION_VALUES_H_

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace vendrel {

struct SettingsValues {
  std::string drive;
  std::string inst_path;
  std::string local_drive;
  std::string cddir;
  std::string updir;
  std::string practice_relief;
};

// The drive-dependent values a drive text gives.
struct NewValues {
  std::string drive;
  std::string inst_path;
  std::string local_drive;
};

// Drive text + ":", + ":\kova32" and + ":"; a text of exactly three
// characters gives its first, second and third character each its own value.
NewValues ComposeNewValues(std::string_view drive_text);

// Reads the six values for display; all stay empty when the key does not
// open.
SettingsValues ReadSettingsValues(platform::Registry& registry, platform::RootKey root);

// Stores Drive, InstPath, LocalDrive and PracticeRelief upper-cased, in that
// order, and flushes them. Writes nothing when the key does not open.
void WriteSettingsValues(platform::Registry& registry, platform::RootKey root,
                         const NewValues& values, std::string_view practice_relief);

// Drive alone, as it is stored now; nothing when the key does not open, and
// empty text when the value is absent.
std::optional<std::string> ReadStoredDrive(platform::Registry& registry, platform::RootKey root);

}  // namespace vendrel

#endif  // VENDREL_SETTINGS_INSTALLATION_VALUES_H_
