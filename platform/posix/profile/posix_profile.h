#ifndef VENDREL_PLATFORM_POSIX_PROFILE_POSIX_PROFILE_H_
#define VENDREL_PLATFORM_POSIX_PROFILE_POSIX_PROFILE_H_

#include "platform/posix/files/drive_map.h"
#include "platform/profile.h"

namespace vendrel::platform {

// Profile files by drive-letter path. Every change is a locked, atomic
// rewrite of the file, so nothing is kept in memory and a flush has nothing
// left to do.
class PosixProfileWriter : public ProfileWriter {
 public:
  explicit PosixProfileWriter(const DriveMap& drives) : drives_(drives) {}

  Result WriteEntry(const std::optional<std::string>& section,
                    const std::optional<std::string>& key, const std::optional<std::string>& value,
                    const std::string& file_name) override;

 private:
  const DriveMap& drives_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_PROFILE_POSIX_PROFILE_H_
