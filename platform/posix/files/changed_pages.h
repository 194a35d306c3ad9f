// The pages of a file's new content that differ from what the file holds,
// found while the new content is being written: a file that changes in a
// few places then needs only those pages written, and nobody holds either
// content whole.
#ifndef VENDREL_PLATFORM_POSIX_FILES_CHANGED_PAGES_H_
#define VENDREL_PLATFORM_POSIX_FILES_CHANGED_PAGES_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The content's writer: writes it whole to the pipe (or, with no pipe or
// no thread to read one, the file in memory) whose descriptor is given (by
// that descriptor, or by opening /proc/self/fd/N). Returns 0 or an errno
// value.
using ContentWriter = std::function<int(int pipe)>;
// Changes the start of the new content (at least its first page, or all of
// it) before it is compared.
using StartMender = std::function<void(char* start, std::size_t size)>;

// Runs write and compares what it writes with the file open as fd, which
// holds old_length bytes, a stretch at a time on a thread of its own as the
// content comes; where no pipe or thread can be had, once it is held whole.
// mend, when given, may change the start first. Returns 0 or an errno
// value, write's failure before the comparison's.
int FindChangedPages(int fd, off_t old_length, const ContentWriter& write, const StartMender& mend,
                     ChangedPages* changed);

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
