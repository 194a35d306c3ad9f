#include "settings/installation_values.h"

#include "platform/text.h"
#include "settings/settings_key.h"

namespace vendrel {

SettingsValues ReadSettingsValues(platform::Registry& registry, platform::RootKey root) {
  SettingsValues values;
  SettingsKey key(registry);
  key.SetRoot(root);
  key.SetLazyWrite(false);
  if (key.Open(kSettingsKeyPath)) {
    values.drive = ShortString(key.ReadText("Drive"));
    values.inst_path = ShortString(key.ReadText("InstPath"));
    values.local_drive = ShortString(key.ReadText("LocalDrive"));
    values.cddir = ShortString(key.ReadText("cddir"));
    values.updir = ShortString(key.ReadText("updir"));
    values.practice_relief = ShortString(key.ReadText("PracticeRelief"));
    key.Close();
  }
  return values;
}

void WriteSettingsValues(platform::Registry& registry, platform::RootKey root,
                         const std::string& drive, const std::string& inst_path,
                         const std::string& local_drive, const std::string& practice_relief) {
  SettingsKey key(registry);
  key.SetRoot(root);
  key.SetLazyWrite(false);
  if (!key.Open(kSettingsKeyPath)) return;
  key.WriteText("Drive", UpperCase(drive));
  key.WriteText("InstPath", UpperCase(inst_path));
  key.WriteText("LocalDrive", UpperCase(local_drive));
  key.WriteText("PracticeRelief", UpperCase(practice_relief));
  key.Close();
}

StoredDrive ReadStoredDrive(platform::Registry& registry, platform::RootKey root) {
  StoredDrive stored;
  SettingsKey key(registry);
  key.SetRoot(root);
  stored.key_opened = key.Open(kSettingsKeyPath);
  if (stored.key_opened) stored.drive = key.ReadText("Drive");
  key.Close();
  return stored;
}

}  // namespace vendrel
