// Test-only tool: writes a registry hive file made from scratch, for the
// acceptance runs of the Linux build on hives.
//
//   make_hive OUTPUT < PLAN
//
// PLAN holds lines (names and data in hexadecimal, "-" for empty):
//   layout MINOR PRIMARY-SEQUENCE SECONDARY-SEQUENCE [LIST [LEAF [WIDE]]]
//                                  subkey lists of kind LIST (lf, lh, li), in
//                                  leaves of LEAF under an ri, names as UTF-16
//   key PATH                       a key, with every key on its path
//   class PATH CLASS
//   value PATH NAME TYPE DATA
//   log NAME                       what follows is in a transaction log only
//   stale STRIDE NAME              every STRIDE-th page of the bins is in a log only
// PATH is the key's path below the hive's root, its names joined by "\".
// After a log line, OUTPUT is the hive as planned so far, left dirty as
// Windows leaves a hive it did not close (sequence numbers 8 and 7), and
// NAME, beside it, a new-format log whose one entry (sequence 7) brings
// the hive as planned in all. After a stale line, OUTPUT is the hive as
// planned with every STRIDE-th page of its bins zeroed, left dirty the same
// way, and NAME a log whose entries (64 pages each, from sequence 7 on)
// bring those pages back: a large hive with a few pages of its changes
// still in its log, as Windows leaves one between two reconciles.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/registry/hive/hive_header.h"
#include "support/hive_maker.h"
#include "support/log_maker.h"

namespace {

using vendrel::testing::HiveKey;

std::string FromHex(const std::string& hex) {
  if (hex == "-") return std::string();
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

HiveKey& KeyAt(HiveKey& root, const std::string& path) {
  HiveKey* key = &root;
  std::size_t begin = 0;
  while (begin < path.size()) {
    std::size_t end = path.find('\\', begin);
    if (end == std::string::npos) end = path.size();
    key = &key->Child(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return *key;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_hive OUTPUT < PLAN\n";
    return 2;
  }
  HiveKey root{"ROOT", {}, {}, {}};
  vendrel::testing::HiveLayout layout;
  std::string stale;  // the hive file, where a log brings the rest
  std::string log_name;
  std::size_t stride = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string verb;
    std::string path;
    words >> verb;
    if (verb == "layout") {
      words >> layout.minor_version >> layout.primary_sequence >> layout.secondary_sequence >>
          layout.subkey_list >> layout.leaf_size >> layout.wide_names;
      continue;
    }
    if (verb == "stale") {
      words >> stride >> log_name;
      continue;
    }
    if (verb == "log") {
      words >> log_name;
      vendrel::testing::HiveLayout dirty = layout;
      dirty.primary_sequence = 8;
      dirty.secondary_sequence = 7;
      stale = vendrel::testing::MakeHive(root, dirty);
      continue;
    }
    words >> path;
    HiveKey& key = KeyAt(root, FromHex(path));
    if (verb == "class") {
      std::string name;
      words >> name;
      key.class_name = FromHex(name);
    } else if (verb == "value") {
      std::string name;
      std::string data;
      std::uint32_t type = 0;
      words >> name >> type >> data;
      key.values.push_back({FromHex(name), type, FromHex(data)});
    } else if (verb != "key") {
      std::cerr << "make_hive: unknown line: " << line << "\n";
      return 2;
    }
  }
  std::string hive = vendrel::testing::MakeHive(root, layout);
  std::vector<vendrel::testing::LogEntryShape> entries;
  if (stride != 0) {
    std::vector<vendrel::testing::LogPage> pages;
    for (std::size_t at = 4096; at + 4096 <= hive.size(); at += 4096 * stride) {
      pages.push_back({static_cast<std::uint32_t>(at - 4096), hive.substr(at, 4096)});
      hive.replace(at, 4096, 4096, '\0');
    }
    const auto bins = static_cast<std::uint32_t>(hive.size() - 4096);
    for (std::size_t first = 0; first < pages.size(); first += 64) {
      const auto sequence = static_cast<std::uint32_t>(7 + first / 64);
      entries.push_back(
          {sequence,
           bins,
           0,
           {pages.begin() + static_cast<std::ptrdiff_t>(first),
            pages.begin() + static_cast<std::ptrdiff_t>(std::min(pages.size(), first + 64))},
           false,
           {},
           {},
           {}});
    }
    stale = hive;
    stale[4] = 8;  // primary sequence 8, secondary 7: left dirty
    vendrel::platform::MendHiveChecksum(stale.data(), stale.size());
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  if (log_name.empty()) {
    out << hive;
    return out.good() ? 0 : 1;
  }
  out << stale;
  const auto bins = static_cast<std::uint32_t>(hive.size() - 4096);
  vendrel::testing::LogBase base;
  base.sequence = 7;
  base.bins_size = static_cast<std::uint32_t>(stale.size() - 4096);
  base.copied_from = stale;
  if (entries.empty())
    entries.push_back({7, bins, 0, vendrel::testing::BinsAsPages(hive), false, {}, {}, {}});
  const std::string folder = std::string(argv[1]).substr(0, std::string(argv[1]).rfind('/') + 1);
  std::ofstream log(folder + log_name, std::ios::binary | std::ios::trunc);
  log << vendrel::testing::MakeLog(base, entries);
  return out.good() && log.good() ? 0 : 1;
}
