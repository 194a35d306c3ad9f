#include "settings/installation_values.h"

#include "base/text.h"
#include "settings/settings_key.h"

namespace vendrel {

NewValues ComposeNewValues(std::string_view drive_text) {
  NewValues values;
  if (drive_text.size() == 3) {
    values.drive = std::string(1, drive_text[0]) + ":";
    values.inst_path = std::string(1, drive_text[1]) + ":\\kova32";
    values.local_drive = std::string(1, drive_text[2]) + ":";
  } else {
    std::string text(drive_text);
    values.drive = ShortString(text + ":");
    values.inst_path = ShortString(text + ":\\kova32");
    values.local_drive = ShortString(text + ":");
  }
  return values;
}

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
                         const NewValues& values, std::string_view practice_relief) {
  SettingsKey key(registry);
  key.SetRoot(root);
  key.SetLazyWrite(false);
  if (!key.Open(kSettingsKeyPath)) return;
  key.WriteText("Drive", UpperCase(values.drive));
  key.WriteText("InstPath", UpperCase(values.inst_path));
  key.WriteText("LocalDrive", UpperCase(values.local_drive));
  key.WriteText("PracticeRelief", UpperCase(std::string(practice_relief)));
  // The registry may hold the sets until this flush, and lose all four
  // when it fails: that is reported as the step's first value not set, as
  // a refused first set is, since none of them may be stored.
  RaiseIfNotSet("Drive", key.CloseFlushed());
}

std::optional<std::string> ReadStoredDrive(platform::Registry& registry, platform::RootKey root) {
  std::optional<std::string> drive;
  SettingsKey key(registry);
  key.SetRoot(root);
  if (key.Open(kSettingsKeyPath)) drive = key.ReadText("Drive");
  key.Close();
  return drive;
}

}  // namespace vendrel
