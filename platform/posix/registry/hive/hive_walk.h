// The cells of a hive as a change reads them, down one key's path and no
// further, each checked as it is read: a used cell inside its hive bin, as
// large as the reference to it needs, of the kind the reference expects.
// Subkey lists of every kind Windows writes are followed (lf, lh, li, and
// an ri of those); names, stored compressed or as UTF-16, are matched as
// Windows matches them. Whatever a hive holds, a walk reads a bounded
// number of cells: an ri under an ri, or a count past its cell, is damage.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_WALK_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_WALK_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_pages.h"

namespace vendrel::platform {

struct KeyCell {
  std::uint64_t cell = 0;  // where it lies in the file
  std::string name;        // UTF-16LE
  std::uint32_t subkeys = 0;
  std::uint32_t subkey_list = 0;  // as stored: from the first hive bin
  std::uint32_t values = 0;
  std::uint32_t value_list = 0;
};

struct ValueCell {
  std::uint64_t cell = 0;
  std::string name;  // UTF-16LE
  std::uint32_t type = 0;
  std::uint32_t length = 0;  // of its data
  bool in_value = false;     // the data is held in the value cell itself
  std::uint32_t data = 0;    // as stored: the data's cell, or the data itself
};

// How a child is looked up by name in a leaf that keeps a hash (lh) or the
// first characters (lf) of each name: as Windows looks it up, trusting
// them, or as a reader that compares every entry's name.
enum class Lookup { kAsWindows, kEveryName };

class HiveWalk {
 public:
  // bins_end: where the hive bins end, as the base block says.
  HiveWalk(const HivePages& pages, std::uint32_t minor_version, std::uint64_t bins_end,
           Lookup lookup = Lookup::kAsWindows)
      : pages_(pages), minor_version_(minor_version), bins_end_(bins_end), lookup_(lookup) {}

  // Each returns an empty string, or what is wrong, for a report. The
  // root's name is never read: nothing is looked up by it.
  std::string Key(std::uint32_t stored, KeyCell* key, bool named = true) const;
  // The child of key named name (UTF-16LE, letter case ignored as Windows
  // ignores it); *found is false where there is none.
  std::string Child(const KeyCell& key, std::string_view name, KeyCell* child, bool* found) const;
  // The place of the last key of way (the keys on the way to it, the root
  // first): the subkey lists of each key are read, the keys they name are
  // not.
  std::string Place(const std::vector<KeyCell>& way, KeyPlace* place) const;
  // Every child of key, in the order its lists give them.
  std::string Children(const KeyCell& key, std::vector<KeyCell>* children) const;
  std::string Values(const KeyCell& key, std::vector<ValueCell>* values) const;
  std::string Data(const ValueCell& value, std::string* data) const;
  // Adds the cells of a value's big data, where it has big data: its db
  // cell, its list of segments and the segments its length takes.
  std::string BigDataCells(const ValueCell& value, std::vector<std::uint64_t>* cells) const;
  // Where a value's data lies in the file, in a cell of its own: 0 for data
  // held in the value, and for big data (which has several cells).
  std::uint64_t DataCell(const ValueCell& value) const;

  // The used cell at offset (in the file), inside one hive bin, of least
  // bytes or more (its size field included), beginning with signature when
  // one is given: its size.
  std::string UsedCell(std::uint64_t offset, std::uint64_t least, const char* signature,
                       std::uint64_t* size) const;
  // Whether a cell begins at offset as its bin's cells follow each other
  // from the bin's first: an empty string, or what is wrong. A cell inside
  // another is one that writing the other would overwrite.
  std::string OnChain(std::uint64_t offset) const;
  // The hive bin that holds offset: where it starts and ends in the file.
  std::string BinOf(std::uint64_t offset, std::uint64_t* start, std::uint64_t* end) const;
  // Reads a 32-bit word of the file; false where it cannot be read.
  bool Word(std::uint64_t at, std::uint32_t* value) const;

  std::uint64_t bins_end() const { return bins_end_; }
  const HivePages& pages() const { return pages_; }

 private:
  struct Search;
  // Big data, its cells checked: its bytes where data is given, and its
  // cells where cells is.
  std::string BigData(const ValueCell& value, std::string* data,
                      std::vector<std::uint64_t>* cells) const;
  std::string Leaf(std::uint64_t list, Search* search, KeyCell* child, bool* found,
                   bool under_root) const;
  // Counts what a step reads against the walk's bound: an empty string, or
  // what is wrong once past it.
  std::string Spend(std::uint64_t entries, std::uint64_t data) const;

  const HivePages& pages_;
  const std::uint32_t minor_version_;
  const std::uint64_t bins_end_;
  const Lookup lookup_;
  mutable std::map<std::uint64_t, std::uint64_t> bins_;  // found: where each starts and ends
  mutable std::uint64_t entries_read_ = 0;
  mutable std::uint64_t data_read_ = 0;
};

// Whether two UTF-16LE names are one to Windows: each unit compared in
// upper case, as Unicode's simple upper case maps it.
bool SameName(std::string_view a, std::string_view b);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_WALK_H_
