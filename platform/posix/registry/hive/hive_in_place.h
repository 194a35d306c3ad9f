// A change of keys' values that the hive takes where it stands, with a few
// pages written: a value the key holds takes its new data where its old
// data is, when it fits there; what needs new cells (a value the key does
// not hold, data that no longer fits, the longer value list) gets them in
// one new hive bin where the bins end, and the cells they replace are
// freed. Every other cell stays as it is. The pages are read as the change
// needs them, and each old cell the change touches is checked first.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_IN_PLACE_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_IN_PLACE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/registry/hive/hive_walk.h"

namespace vendrel::platform {

class InPlaceChange {
 public:
  // A value as the hive holds it before the change: its name as stored
  // (UTF-16LE), its cell, and its data's cell (0 for data held in the
  // value's own cell, or none); cells as offsets in the file.
  struct Held {
    std::string name;
    std::uint64_t cell = 0;
    std::uint64_t data_cell = 0;
  };

  // A value set: its name as it is to be stored (UTF-16LE), type and data.
  struct NewValue {
    std::string name;
    std::uint32_t type = 0;
    std::string data;
  };

  // The key whose cell is at key_cell, with the values it holds before the
  // change, in the order its value list gives them.
  void AddKey(std::uint64_t key_cell, std::vector<Held> values);
  bool HasKey(std::uint64_t key_cell) const { return keys_.count(key_cell) != 0; }
  // The set of a value of a key added before, its name as it is to be
  // stored (UTF-16LE); a later set of the same name replaces it.
  void Set(std::uint64_t key_cell, const std::string& name, std::uint32_t type, std::string data);
  // Whether no value is set.
  bool empty() const;
  // The sets of the key whose cell is at key_cell, in the order made.
  std::vector<NewValue> SetsOf(std::uint64_t key_cell) const;

  // The pages of the hive that walk reads, with the change made (its base
  // block with the bins size the change leaves). Returns 0 or an errno
  // value from reading them; where the hive cannot take the change (a cell
  // it touches is damaged, or data this program does not write), EINVAL
  // and *refusal says why.
  int Pages(const HiveWalk& walk, std::uint32_t minor_version, ChangedPages* changed,
            std::string* refusal) const;

 private:
  struct Key {
    std::vector<Held> held;
    std::vector<NewValue> sets;
  };
  std::map<std::uint64_t, Key> keys_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_IN_PLACE_H_
