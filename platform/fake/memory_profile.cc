#include "platform/fake/memory_profile.h"

#include <algorithm>

#include "base/text.h"

namespace vendrel::platform {

void MemoryProfile::AddFolder(const std::string& folder) { folders_.push_back(UpperCase(folder)); }

void MemoryProfile::Put(const std::string& file, Sections sections) {
  files_[UpperCase(file)] = std::move(sections);
}

std::optional<MemoryProfile::Sections> MemoryProfile::Get(const std::string& file) const {
  auto found = files_.find(UpperCase(file));
  if (found == files_.end()) return std::nullopt;
  return found->second;
}

Result MemoryProfile::WriteEntry(const std::optional<std::string>& section,
                                 const std::optional<std::string>& key,
                                 const std::optional<std::string>& value,
                                 const std::string& file_name) {
  // The platform's flush answers a failure, whatever it did.
  if (!section) return kInvalidParameter;
  if (!key) return kInvalidParameter;
  const std::string name = UpperCase(file_name);
  auto file = files_.find(name);
  if (!value) {
    if (file == files_.end()) return kFileNotFound;
    for (auto& [section_name, entries] : file->second) {
      if (!EqualsIgnoringCase(section_name, *section)) continue;
      auto entry = std::find_if(entries.begin(), entries.end(),
                                [&](const auto& e) { return EqualsIgnoringCase(e.first, *key); });
      if (entry != entries.end()) {
        entries.erase(entry);
        return kSuccess;
      }
    }
    return kSuccess;
  }
  if (file == files_.end()) {
    const std::string folder = name.substr(0, name.find_last_of('\\'));
    if (std::find(folders_.begin(), folders_.end(), folder) == folders_.end()) {
      return kPathNotFound;
    }
    file = files_.emplace(name, Sections{}).first;
  }
  for (auto& [section_name, entries] : file->second) {
    if (!EqualsIgnoringCase(section_name, *section)) continue;
    for (auto& entry : entries) {
      if (EqualsIgnoringCase(entry.first, *key)) {
        entry.second = *value;
        return kSuccess;
      }
    }
    entries.emplace_back(*key, *value);
    return kSuccess;
  }
  file->second.push_back({*section, Entries{{*key, *value}}});
  return kSuccess;
}

}  // namespace vendrel::platform
