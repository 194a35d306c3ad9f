// Private profile (INI) files, as WritePrivateProfileStringA offers them.
#ifndef VENDREL_PLATFORM_PROFILE_H_
#define VENDREL_PLATFORM_PROFILE_H_

#include <optional>
#include <string>

#include "base/result.h"

namespace vendrel::platform {

class ProfileWriter {
 public:
  virtual ~ProfileWriter() = default;

  // WritePrivateProfileStringA(section, key, value, file_name):
  // with all three given, writes the entry (creating the file and the
  // section as needed); with no value, deletes the entry; with nothing but
  // the file name, flushes any copy kept in memory. A failure carries the
  // Windows code, and a detail where the layer refuses a file for a reason
  // of its own. The platform's flush answers a failure even when it worked.
  virtual Result WriteEntry(const std::optional<std::string>& section,
                            const std::optional<std::string>& key,
                            const std::optional<std::string>& value,
                            const std::string& file_name) = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_PROFILE_H_
