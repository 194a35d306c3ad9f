#ifndef VENDREL_PLATFORM_WIN32_WIN32_PROFILE_H_
#define VENDREL_PLATFORM_WIN32_WIN32_PROFILE_H_

#include "platform/profile.h"

namespace vendrel::platform {

// WritePrivateProfileStringA, passed straight through.
class Win32ProfileWriter : public ProfileWriter {
 public:
  Result WriteEntry(const std::optional<std::string>& section,
                    const std::optional<std::string>& key, const std::optional<std::string>& value,
                    const std::string& file_name) override;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_WIN32_WIN32_PROFILE_H_
