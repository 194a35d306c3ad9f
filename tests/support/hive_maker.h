// Registry hive files made from scratch for tests and benchmarks, as the
// public description of the regf format lays them out: a base block with its
// checksum, hive bins of 4096 bytes, and cells for the keys (nk), their
// subkey lists (lf or lh), value lists, values (vk) and their data (big data
// (db) for long values in hives of version 1.4 and later), and one security
// cell (sk) that every key shares.
#ifndef VENDREL_TESTS_SUPPORT_HIVE_MAKER_H_
#define VENDREL_TESTS_SUPPORT_HIVE_MAKER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vendrel::testing {

struct HiveValue {
  std::string name;  // single-byte (Latin-1) text, stored as such
  std::uint32_t type = 0;
  std::string data;  // raw bytes: a REG_SZ as UTF-16LE with its NUL
};

struct HiveKey {
  std::string name;
  std::string class_name;  // stored as UTF-16LE; none when empty
  std::vector<HiveValue> values;
  std::vector<HiveKey> children;

  // The child of that name, made when missing.
  HiveKey& Child(const std::string& child_name);
};

struct HiveLayout {
  std::uint32_t minor_version = 5;  // 3 for Windows NT 4, 5 for XP and later
  std::uint32_t primary_sequence = 7;
  std::uint32_t secondary_sequence = 7;  // differs in a hive not cleanly closed
  std::string file_name = "SOFTWARE";    // as the base block records it
  std::string subkey_list;               // "lf", "lh" or "li"; by version when empty
  std::size_t leaf_size = 0;             // more subkeys go to leaves under an "ri"
  bool wide_names = false;               // names stored as UTF-16, not a byte each
};

// The bytes of a hive file holding the tree below root.
std::string MakeHive(const HiveKey& root, const HiveLayout& layout = {});

// Text as a hive stores a REG_SZ: each byte as one UTF-16LE unit (Latin-1),
// with the terminating NUL.
std::string Utf16Text(const std::string& latin1);

}  // namespace vendrel::testing

#endif  // VENDREL_TESTS_SUPPORT_HIVE_MAKER_H_
