#include "platform/fake/faulty_profile.h"

namespace vendrel::platform {

Result FaultyProfile::WriteEntry(const std::optional<std::string>& section,
                                 const std::optional<std::string>& key,
                                 const std::optional<std::string>& value,
                                 const std::string& file_name) {
  const char* operation = !section ? "WritePrivateProfileStringA(flush)"
                          : value  ? "WritePrivateProfileStringA(write)"
                                   : "WritePrivateProfileStringA(delete)";
  if (WinCode code = plan_.Next(operation)) return code;
  return inner_.WriteEntry(section, key, value, file_name);
}

}  // namespace vendrel::platform
