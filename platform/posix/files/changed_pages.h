// The pages of a file's new content that differ from what the file holds,
// as records a journal or a log takes them from: a file that changes in a
// few places needs only those pages written.
#ifndef VENDREL_PLATFORM_POSIX_FILES_CHANGED_PAGES_H_
#define VENDREL_PLATFORM_POSIX_FILES_CHANGED_PAGES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vendrel::platform {

constexpr std::size_t kComparedPage = 4096;
// What stands before each page's bytes in the records: its offset and length.
constexpr std::size_t kPageRecordHead = 8 + 4;

struct ChangedPages {
  // Each page that differs, as a journal of pages holds it: its offset
  // (8 bytes, little-endian), its length (4) and its bytes.
  std::string records;
  std::uint64_t length = 0;  // the new content's
};

// Adds the page at at, holding bytes, to changed's records.
void AddChangedPage(ChangedPages* changed, std::uint64_t at, std::string_view bytes);

// Takes the first record off records: false when they do not begin with a
// whole one.
bool TakePageRecord(std::string_view* records, std::uint64_t* at, std::string_view* bytes);

// A stretch of new bytes that untrusted changes bring: a journal's page, a
// log entry's page.
struct Stretch {
  std::uint64_t at = 0;
  std::uint64_t size = 0;
};

// Whether the stretches together cover every byte from old_length up to
// new_length. Changes that grow a file are trusted only as far as they
// bring the bytes, so that a few bytes can never ask for gigabytes.
bool CoversGrowth(std::uint64_t old_length, std::uint64_t new_length,
                  std::vector<Stretch> stretches);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_CHANGED_PAGES_H_
