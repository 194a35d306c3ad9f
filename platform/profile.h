// Private profile (INI) files, as WritePrivateProfileStringA offers them.
#ifndef VENDREL_PLATFORM_PROFILE_H_
#define VENDREL_PLATFORM_PROFILE_H_

#include <optional>
#include <string>

namespace vendrel::platform {

class ProfileWriter {
 public:
  virtual ~ProfileWriter() = default;

  // WritePrivateProfileStringA(section, key, value, file_name):
  // with all three given, writes the entry (creating the file and the
  // section as needed); with no value, deletes the entry; with nothing but
  // the file name, flushes any copy kept in memory and answers false, as
  // the platform's flush always does. Otherwise false means failure.
  virtual bool WriteEntry(const std::optional<std::string>& section,
                          const std::optional<std::string>& key,
                          const std::optional<std::string>& value,
                          const std::string& file_name) = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_PROFILE_H_
