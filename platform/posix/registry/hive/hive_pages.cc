#include "platform/posix/registry/hive/hive_pages.h"

#include <algorithm>
#include <cerrno>

#include "platform/posix/files/file_io.h"

namespace vendrel::platform {
namespace {

// Pages read from the file kept at once: a few megabytes, whatever the walk;
// and the most pages one read brings.
constexpr std::size_t kCachedPages = 1024;
constexpr std::uint64_t kRunPages = 16;

}  // namespace

const std::string* HivePages::Page(std::uint64_t at, std::uint64_t until) const {
  if (auto laid = overlay_.find(at); laid != overlay_.end()) return &laid->second;
  if (auto cached = cache_.find(at); cached != cache_.end()) return &cached->second;
  if (cache_.size() + kRunPages >= kCachedPages) cache_.clear();
  // The pages up to until that are read from the file come with one read.
  std::uint64_t end = at + kHivePage;
  while (end < until && end - at < kRunPages * kHivePage && end < file_length_ &&
         overlay_.count(end) == 0 && cache_.count(end) == 0) {
    end += kHivePage;
  }
  std::string run(end - at, '\0');
  // Past the file's end, a hive its logs grew holds zeros until written.
  const std::size_t wanted =
      at < file_length_ ? static_cast<std::size_t>(std::min(end, file_length_) - at) : 0;
  if (int error = ReadAt(fd_, run.data(), wanted, static_cast<off_t>(at)); error != 0) {
    errno = error;
    return nullptr;
  }
  for (std::uint64_t page = end - kHivePage; page > at; page -= kHivePage) {
    cache_.emplace(page, run.substr(page - at, kHivePage));
  }
  return &cache_.emplace(at, run.substr(0, kHivePage)).first->second;
}

bool HivePages::Read(std::uint64_t at, std::size_t size, std::string* out) const {
  out->clear();
  if (at > length_ || length_ - at < size) {
    errno = ERANGE;
    return false;
  }
  out->reserve(size);
  while (out->size() < size) {
    const std::uint64_t where = at + out->size();
    const std::string* page = Page(where / kHivePage * kHivePage, at + size);
    if (page == nullptr) return false;
    const std::size_t from = where % kHivePage;
    out->append(*page, from, std::min<std::size_t>(kHivePage - from, size - out->size()));
  }
  return true;
}

void HivePages::TakeOverlay(HiveOverlay&& overlay, std::vector<Stretch> written) {
  overlay_ = std::move(overlay.pages_);
  length_ = std::max(length_, overlay.length_);
  written_ = std::move(written);
  cache_.clear();
}

void HiveOverlay::Grow(std::uint64_t length) {
  // A hive grown past what this program reads could be neither read back
  // nor committed.
  past_cap_ = past_cap_ || length > kLargestHive;
  if (!past_cap_) length_ = std::max(length_, length);
}

void HiveOverlay::Put(std::uint64_t at, std::string_view bytes) {
  while (error_ == 0 && !past_cap_ && !bytes.empty()) {
    const std::uint64_t start = at / kHivePage * kHivePage;
    auto page = pages_.find(start);
    if (page == pages_.end() && at == start && bytes.size() >= kHivePage) {
      page = pages_.emplace(start, std::string(bytes.substr(0, kHivePage))).first;  // all new
    } else if (page == pages_.end()) {
      std::string bytes_before(kHivePage, '\0');
      std::string read;
      if (start < file_.size()) {
        if (!file_.Read(start, std::min(kHivePage, file_.size() - start), &read)) {
          error_ = errno;
          return;
        }
        bytes_before.replace(0, read.size(), read);
      }
      page = pages_.emplace(start, std::move(bytes_before)).first;
    }
    const std::size_t from = at - start;
    const std::size_t size = std::min<std::size_t>(kHivePage - from, bytes.size());
    page->second.replace(from, size, bytes.substr(0, size));
    bytes.remove_prefix(size);
    at += size;
  }
}

}  // namespace vendrel::platform
