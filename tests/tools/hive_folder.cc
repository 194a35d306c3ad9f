// Test-only tool, on a hive beside its transaction logs:
//   hive_folder load HIVE            the hive as Windows loads it, its logs
//                                    applied by this program's recovery
//   hive_folder log HIVE EDITED LOG  appends to LOG an entry after its last,
//                                    bringing the pages where the image EDITED
//                                    differs from HIVE as loaded
#include <fstream>
#include <iostream>
#include <iterator>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_log_files.h"
#include "platform/posix/registry/hive/log_entries.h"
#include "platform/posix/registry/hive/log_writer.h"

using namespace vendrel::platform;  // NOLINT(google-build-using-namespace)

static std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int main(int argc, char** argv) {
  PlacedFile placed;
  std::vector<HiveLog> logs;
  Recovery recovery;
  std::string hive = argc > 2 ? Read(argv[2]) : "";
  std::string refused = argc > 2 && PlaceTrusted(argv[2], &placed) == 0
                            ? ReadHiveLogs(placed, &logs)
                            : "usage: hive_folder load HIVE | log HIVE EDITED LOG";
  if (refused.empty()) refused = RecoverHive(&hive, logs, &recovery);
  if (!refused.empty() || argc < 3) {
    std::cerr << "hive_folder: " << refused << "\n";
    return 1;
  }
  if (std::string(argv[1]) == "load") return (std::cout << hive).good() ? 0 : 1;
  const std::string edited = Read(argv[3]);
  std::vector<LoggedPage> pages;
  for (std::size_t at = 4096; at + 4096 <= edited.size(); at += 4096) {
    if (at + 4096 > hive.size() || hive.compare(at, 4096, edited, at, 4096) != 0) {
      pages.push_back(
          {static_cast<std::uint32_t>(at - 4096), std::string_view(edited).substr(at, 4096)});
    }
  }
  std::string log = Read(argv[4]);
  std::size_t end = 512;  // past the last entry that holds
  for (LogEntry entry; ReadLogEntry(log, end, &entry);) end += entry.bytes.size();
  log.resize(end);
  const LogHead head{edited, HighestEntrySequence(log) + 1, 0,
                     static_cast<std::uint32_t>(Field(edited, 40, 4))};
  std::ofstream(argv[4], std::ios::binary) << log << LogOfEntry(head, pages).substr(512);
  return 0;
}
