// A change of keys' values that the hive file takes where it stands, with
// a few pages written: a value the key holds takes its new data where its
// old data is, when it fits there; what needs new cells (a value the key
// does not hold, data that no longer fits, the longer value list) gets
// them in one new hive bin at the end of the file, and the cells they
// replace are freed. Every other cell stays as it is.
// What it does not know how to write safely (big data, a name that is not
// plain ASCII, cells that are not what the hive library read) it leaves to
// the hive library, which writes the whole hive.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_IN_PLACE_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_IN_PLACE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/registry/hive/hive_cells.h"

namespace vendrel::platform {

class InPlaceChange {
 public:
  // Where the data of a value lies when the library could not tell.
  static constexpr std::uint64_t kUnknownData = ~std::uint64_t{0};

  // A value as the file holds it before the change: its name as the hive
  // library gives it (UTF-8), its cell, and its data's cell (0 for data
  // held in the value's own cell); cells as offsets in the file.
  struct Held {
    std::string name;
    std::uint64_t cell = 0;
    std::uint64_t data_cell = 0;
  };

  // A value set: its name as it is to be stored (UTF-8), type and data.
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
  // stored (UTF-8); a later set of the same name replaces it.
  void Set(std::uint64_t key_cell, const std::string& name, std::uint32_t type, std::string data);

  // The pages of the hive file open as fd, of length bytes, whose bins
  // are bins, with the change made. Returns 0, ENOTSUP when the file
  // cannot take the change this way, or an errno value from reading it.
  int Pages(int fd, std::uint64_t length, const HiveBins& bins, std::uint32_t minor_version,
            ChangedPages* changed) const;

 private:
  struct Key {
    std::vector<Held> held;
    std::vector<NewValue> sets;
  };
  std::map<std::uint64_t, Key> keys_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_IN_PLACE_H_
