// Registry transaction logs made from scratch for tests, as Windows lays
// them out: a one-sector base block, then new-format "HvLE" entries with
// their two Marvin32 hashes, or an old-format "DIRT" vector and its pages.
// Each field can be set to what a hostile disk would hold.
#ifndef VENDREL_TESTS_SUPPORT_LOG_MAKER_H_
#define VENDREL_TESTS_SUPPORT_LOG_MAKER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vendrel::testing {

struct LogPage {
  std::uint32_t offset = 0;  // within the hive bins
  std::string bytes;         // a multiple of 4096 bytes, as Windows writes them
};

struct LogEntryShape {
  std::uint32_t sequence = 0;
  std::uint32_t bins_size = 0;
  std::uint32_t flags = 0;
  std::vector<LogPage> pages;
  bool break_hash = false;  // the first hash no longer matches the entry
  // Fields written in place of the true ones; the hashes still match them.
  std::optional<std::uint32_t> size_field;
  std::optional<std::uint32_t> page_count_field;
  std::optional<std::uint32_t> first_page_size_field;
};

struct LogBase {
  std::uint32_t sequence = 7;
  std::uint32_t bins_size = 4096;
  std::uint32_t file_type = 6;  // 1 for the old format
  std::uint64_t timestamp = 0x01D9000000000000ULL;
  std::string copied_from;  // a hive file whose base block the log's starts from, as Windows'
                            // does; the fields above are then written over it
};

// A new-format log holding entries, one after another on sector boundaries.
std::string MakeLog(const LogBase& base, const std::vector<LogEntryShape>& entries);

// An old-format log: the 512-byte pages of bins (the hive bins data as it
// should become) whose indexes are in dirty.
std::string MakeDirtyVectorLog(const LogBase& base, const std::string& bins,
                               const std::vector<std::size_t>& dirty);

// The hive bins of a hive file (what follows its base block) as the pages of
// one entry.
std::vector<LogPage> BinsAsPages(const std::string& hive);

}  // namespace vendrel::testing

#endif  // VENDREL_TESTS_SUPPORT_LOG_MAKER_H_
