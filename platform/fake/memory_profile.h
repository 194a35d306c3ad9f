// Profile files kept in memory for tests: sections and entries in order,
// matched without regard to case.
#ifndef VENDREL_PLATFORM_FAKE_MEMORY_PROFILE_H_
#define VENDREL_PLATFORM_FAKE_MEMORY_PROFILE_H_

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/profile.h"

namespace vendrel::platform {

class MemoryProfile : public ProfileWriter {
 public:
  using Entries = std::vector<std::pair<std::string, std::string>>;
  using Sections = std::vector<std::pair<std::string, Entries>>;

  // A folder where files may be created ("F:\kova", any case).
  void AddFolder(const std::string& folder);
  void Put(const std::string& file, Sections sections);
  std::optional<Sections> Get(const std::string& file) const;

  Result WriteEntry(const std::optional<std::string>& section,
                    const std::optional<std::string>& key, const std::optional<std::string>& value,
                    const std::string& file_name) override;

 private:
  std::map<std::string, Sections> files_;  // by upper-cased name
  std::vector<std::string> folders_;       // upper-cased
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_MEMORY_PROFILE_H_
