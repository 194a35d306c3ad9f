// SharedSettingsFile: the access object over the product's INI settings
// file, and the step that stores the database name there.
#ifndef VENDREL_SETTINGS_SHARED_SETTINGS_FILE_H_
#define VENDREL_SETTINGS_SHARED_SETTINGS_FILE_H_

#include <string>

#include "base/dialogue.h"
#include "platform/profile.h"
#include "scramble/scramble_name.h"

namespace vendrel {

class SharedSettingsFile {
 public:
  SharedSettingsFile(platform::ProfileWriter& writer, std::string path);
  ~SharedSettingsFile();  // flushes
  SharedSettingsFile(const SharedSettingsFile&) = delete;
  SharedSettingsFile& operator=(const SharedSettingsFile&) = delete;

  // Raises EIniFileException "Unable to write to <path>" on failure, with
  // the platform's reason behind it where it gives one.
  void WriteText(const std::string& section, const std::string& key, const std::string& value);
  // Never reports anything.
  void DeleteKey(const std::string& section, const std::string& key);
  void Flush();

  const std::string& path() const { return path_; }

 private:
  platform::ProfileWriter& writer_;
  std::string path_;
};

// Writes the scrambled database name as "database" in POSTGRES_SERVER of
// <new drive>\kova\kelvarini.dat, removes the four version entries and
// reports the name.
void StoreDatabaseName(const std::string& new_drive, const std::string& database_name,
                       platform::ProfileWriter& writer, ScrambleGenerator& generator,
                       Dialogue& dialogue);

}  // namespace vendrel

#endif  // VENDREL_SETTINGS_SHARED_SETTINGS_FILE_H_
