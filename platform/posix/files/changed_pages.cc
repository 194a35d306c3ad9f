#include "platform/posix/files/changed_pages.h"

#include <algorithm>

#include "platform/posix/files/little_endian.h"

namespace vendrel::platform {
void AddChangedPage(ChangedPages* changed, std::uint64_t at, std::string_view bytes) {
  PutField(&changed->records, at, 8);
  PutField(&changed->records, bytes.size(), 4);
  changed->records.append(bytes);
}

bool TakePageRecord(std::string_view* records, std::uint64_t* at, std::string_view* bytes) {
  if (records->size() < kPageRecordHead) return false;
  *at = Field(*records, 0, 8);
  const std::uint64_t size = Field(*records, 8, 4);
  if (size > records->size() - kPageRecordHead) return false;
  *bytes = records->substr(kPageRecordHead, size);
  records->remove_prefix(kPageRecordHead + size);
  return true;
}

bool CoversGrowth(std::uint64_t old_length, std::uint64_t new_length,
                  std::vector<Stretch> stretches) {
  std::sort(stretches.begin(), stretches.end(),
            [](const Stretch& a, const Stretch& b) { return a.at < b.at; });
  std::uint64_t reached = old_length;
  for (const Stretch& stretch : stretches) {
    if (reached >= new_length || stretch.at > reached) break;
    reached = std::max(reached, stretch.at + std::min(stretch.size, new_length - stretch.at));
  }
  return reached >= new_length;
}

}  // namespace vendrel::platform
