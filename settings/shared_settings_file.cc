#include "settings/shared_settings_file.h"

#include "base/error.h"

namespace vendrel {
namespace {

constexpr const char* kSection = "POSTGRES_SERVER";
constexpr const char* kRemovedKeys[] = {"langver", "util_ver", "fileupdates_ver", "ccffl"};

// Names the product could not read back, refused before the file is
// touched: one too long keeps no separator behind it once scrambled, and a
// line break would end the entry early and let the rest stand as lines of
// their own.
void CheckStorable(const std::string& name, const std::string& path) {
  std::string problem;
  if (name.size() > kScrambleNameMax) {
    problem = "a database name of " + std::to_string(name.size()) +
              " characters cannot be read back (at most " + std::to_string(kScrambleNameMax) + ")";
  } else if (name.find_first_of("\r\n") != std::string::npos) {
    problem = "a database name may not hold a line break";
  }
  if (!problem.empty()) {
    throw Error(ErrorKind::kIniFile, "Unable to write to " + path + ": " + problem,
                RaiseSite::kDatabaseName);
  }
}

}  // namespace

SharedSettingsFile::SharedSettingsFile(platform::ProfileWriter& writer, std::string path)
    : writer_(writer), path_(std::move(path)) {}

SharedSettingsFile::~SharedSettingsFile() { Flush(); }

void SharedSettingsFile::WriteText(const std::string& section, const std::string& key,
                                   const std::string& value) {
  Result written = writer_.WriteEntry(section, key, value, path_);
  if (!written.ok()) {
    std::string message = "Unable to write to " + path_;
    if (!written.detail().empty()) message += ": " + written.detail();
    throw Error(ErrorKind::kIniFile, message, RaiseSite::kIniFileWrite);
  }
}

void SharedSettingsFile::DeleteKey(const std::string& section, const std::string& key) {
  writer_.WriteEntry(section, key, std::nullopt, path_).IgnoreFailure();
}

void SharedSettingsFile::Flush() {
  writer_.WriteEntry(std::nullopt, std::nullopt, std::nullopt, path_).IgnoreFailure();
}

void StoreDatabaseName(const std::string& new_drive, const std::string& database_name,
                       platform::ProfileWriter& writer, ScrambleGenerator& generator,
                       Dialogue& dialogue) {
  SharedSettingsFile file(writer, new_drive + "\\kova\\kelvarini.dat");
  CheckStorable(database_name, file.path());
  file.WriteText(kSection, "database", ScrambleName(database_name, 'E', generator));
  for (const char* key : kRemovedKeys) file.DeleteKey(kSection, key);
  dialogue.WriteLine("Setting Postgres DB: " + database_name);
}

}  // namespace vendrel
