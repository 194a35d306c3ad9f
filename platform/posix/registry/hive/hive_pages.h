// A hive file as its 4 KiB pages, read on demand: a change reads the base
// block and the cells on one key's path, never the whole hive. For a dirty
// hive, the pages its transaction logs bring stand over the file's (an
// overlay built from the log entries, no copy of the hive).
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_PAGES_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_PAGES_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace vendrel::platform {

constexpr std::uint64_t kHivePage = 4096;

class HivePages : public HiveSource {
 public:
  // The hive file open as fd (which must stay open while the pages are
  // read), length bytes long.
  HivePages(int fd, std::uint64_t length) : fd_(fd), length_(length), file_length_(length) {}

  // The hive's length: the file's, or as far as its logs grow it.
  std::uint64_t size() const override { return length_; }
  // Reads size bytes from at; false where they lie past the end or cannot
  // be read (errno says why; EIO for a file cut short since it was looked at).
  bool Read(std::uint64_t at, std::size_t size, std::string* out) const override;

  // Puts the pages a recovery changed over the file's; written: what they
  // brought, as stretches of the hive (its base block first).
  void TakeOverlay(class HiveOverlay&& overlay, std::vector<Stretch> written);
  bool recovered() const { return !written_.empty(); }
  const std::vector<Stretch>& written() const { return written_; }

 private:
  // The page at at, reading the pages behind it up to until with it.
  const std::string* Page(std::uint64_t at, std::uint64_t until) const;

  int fd_;
  std::uint64_t length_;
  std::uint64_t file_length_;
  std::map<std::uint64_t, std::string> overlay_;
  std::vector<Stretch> written_;
  // Pages read lately, so that a walk reading one cell after another reads
  // each page once; dropped whole when it grows past a few megabytes.
  mutable std::unordered_map<std::uint64_t, std::string> cache_;
};

// What a recovery puts in a hive, gathered as whole pages over the file's.
class HiveOverlay : public RecoveredImage {
 public:
  explicit HiveOverlay(const HivePages& file) : file_(file), length_(file.size()) {}
  void Grow(std::uint64_t length) override;
  void Put(std::uint64_t at, std::string_view bytes) override;
  // Why a page of the file could not be read, or 0.
  int error() const { return error_; }
  // Whether the logs would grow the hive past the largest this program reads.
  bool past_cap() const { return past_cap_; }

 private:
  friend class HivePages;
  const HivePages& file_;
  std::uint64_t length_;
  std::map<std::uint64_t, std::string> pages_;
  int error_ = 0;
  bool past_cap_ = false;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_PAGES_H_
