// A change of a hive file written as Windows writes one, so that a stop at
// any instant leaves a hive folder that Windows, this program's next run
// and any reader that applies logs load as the old tree or the new one:
// 1. a dirty hive's recovered pages go into the hive first, while its own
//    logs still cover them, and the hive is marked clean past them;
// 2. the change's pages go to one of the hive's transaction logs, in the
//    format Windows on that disk reads, flushed;
// 3. the base block is marked dirty, naming that log's entry, flushed;
// 4. the pages are written in place, flushed;
// 5. the base block is marked clean, its sequence numbers past every log
//    entry, flushed.
// No other file is written: the hive keeps its owner, attributes and names.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_COMMIT_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_COMMIT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/placed_file.h"
#include "platform/posix/registry/hive/hive_pages.h"

namespace vendrel::platform {

// Windows 8.1, the first to write (and read) new-format logs.
constexpr std::uint32_t kFirstLogEntriesBuild = 9600;

struct HiveCommit {
  const PlacedFile* placed = nullptr;  // the hive: its folder holds the logs
  int fd = -1;                         // the hive, locked, open for reading and writing
  // The build of the Windows installation the hive belongs to, where known:
  // it says which log format that Windows reads, where no log says it.
  std::function<std::optional<std::uint32_t>()> windows_build;
  // The hive as the change was made to it: for a dirty hive, as its logs
  // recover it.
  const HivePages* content = nullptr;
};

struct CommitOutcome {
  int error = 0;        // an errno value from the files
  std::string refusal;  // or why the change was refused, for a report naming the hive
  bool ok() const { return error == 0 && refusal.empty(); }
};

// Writes changed (the pages of the hive's new content that differ, its base
// block among them, and its new length). Nothing is written before every
// check has passed: the logs are the disk's own regular files of one name
// each, the result stays within the largest hive this program reads, and
// sequence numbers remain.
CommitOutcome CommitThroughLog(const HiveCommit& commit, const ChangedPages& changed);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_COMMIT_H_
