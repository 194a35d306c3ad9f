// Test-only tool, on a hive as a disk holds it, beside its transaction logs:
//   hive_folder load HIVE            writes the hive as Windows loads it (its
//                                    logs applied by this program's recovery,
//                                    which knows nothing else of a run)
//   hive_folder log HIVE EDITED LOG  appends to LOG an entry, numbered after
//                                    its last, bringing the pages in which the
//                                    hive image EDITED differs from HIVE as loaded
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/files/placed_file.h"
#include "platform/posix/registry/hive/hive_log_files.h"
#include "platform/posix/registry/hive/log_entries.h"
#include "platform/posix/registry/hive/log_writer.h"

namespace {

using namespace vendrel::platform;  // NOLINT(google-build-using-namespace)

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  PlacedFile placed;
  std::vector<HiveLog> logs;
  std::string hive = args.size() >= 2 ? Read(args[1]) : "";
  Recovery recovery;
  std::string refused = args.size() >= 2 && PlaceTrusted(args[1], &placed) == 0
                            ? ReadHiveLogs(placed, &logs)
                            : "usage: hive_folder load HIVE | log HIVE EDITED LOG";
  if (refused.empty()) refused = RecoverHive(&hive, logs, &recovery);
  if (!refused.empty()) {
    std::cerr << "hive_folder: " << refused << "\n";
    return 1;
  }
  if (args[0] == "load") {
    std::cout << hive;
    return std::cout.good() ? 0 : 1;
  }
  const std::string edited = Read(args[2]);
  std::string log = Read(args[3]);
  std::vector<LoggedPage> pages;
  for (std::size_t at = 4096; at + 4096 <= edited.size(); at += 4096) {
    if (at + 4096 > hive.size() || hive.compare(at, 4096, edited, at, 4096) != 0) {
      pages.push_back(
          {static_cast<std::uint32_t>(at - 4096), std::string_view(edited).substr(at, 4096)});
    }
  }
  // The new entry follows the last one that holds, over what lies behind it.
  std::size_t end = 512;
  for (LogEntry entry; ReadLogEntry(log, end, &entry);) end += entry.bytes.size();
  log.resize(end);
  const std::uint32_t sequence = HighestEntrySequence(log) + 1;
  const auto bins = static_cast<std::uint32_t>(Field(edited, 40, 4));
  log += LogOfEntry({edited, sequence, 0, bins}, pages).substr(512);
  std::ofstream(args[3], std::ios::binary | std::ios::trunc) << log;
  return 0;
}
