// The three uses a run makes of the product's settings key.
#ifndef VENDREL_SETTINGS_INSTALLATION_VALUES_H_
#define VENDREL_SETTINGS_INSTALLATION_VALUES_H_

#include <string>

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

struct StoredDrive {
  bool key_opened = false;
  std::string drive;
};

// Reads the six values for display; all stay empty when the key does not
// open.
SettingsValues ReadSettingsValues(platform::Registry& registry, platform::RootKey root);

// Stores Drive, InstPath, LocalDrive and PracticeRelief upper-cased, in that
// order, and flushes them. Writes nothing when the key does not open.
void WriteSettingsValues(platform::Registry& registry, platform::RootKey root,
                         const std::string& drive, const std::string& inst_path,
                         const std::string& local_drive, const std::string& practice_relief);

// Reads Drive alone, as it is stored now.
StoredDrive ReadStoredDrive(platform::Registry& registry, platform::RootKey root);

}  // namespace vendrel

#endif  // VENDREL_SETTINGS_INSTALLATION_VALUES_H_
