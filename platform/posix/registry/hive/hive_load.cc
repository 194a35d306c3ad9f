#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_loaded.h"
#include "platform/posix/registry/hive/hive_recovery.h"
#include "platform/posix/registry/hive/hive_registry.h"

// Opening a hive file to be read a page at a time, a dirty one with its
// logs' pages standing over the file's, and the reports of a file that
// cannot be read.
namespace vendrel::platform {
namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

}  // namespace

Result HiveRegistry::Load(int fd, const struct stat& file, std::unique_ptr<Loaded>* loaded) const {
  auto fresh = std::make_unique<Loaded>();
  // A descriptor of its own, opened anew: a copy of fd would hold fd's
  // lock for as long as the hive stays loaded.
  fresh->fd = UniqueFd(open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fresh->fd) return Failure(kRegistryIoFailed, std::strerror(errno));
  // What fd holds may be a pending rewrite's content rather than the file.
  struct stat held = file;
  if (fstat(fresh->fd.get(), &held) != 0) return Failure(kRegistryIoFailed, std::strerror(errno));
  fresh->pages =
      std::make_unique<HivePages>(fresh->fd.get(), static_cast<std::uint64_t>(held.st_size));
  // The base block as the pages give it: the file's, or once recovered, the logs'.
  auto read_header = [&fresh] {
    std::string block;
    return fresh->pages->Read(0, kHiveBaseBlock, &block) ? ReadHiveHeader(block, &fresh->header)
                                                         : HiveState::kNotAHive;
  };
  HiveState state = read_header();
  // A hive Windows did not close cleanly is read as its logs complete it;
  // so is one whose base block the logs can mend.
  if (state == HiveState::kDirty || state == HiveState::kBadChecksum) {
    Recovery recovery;
    if (std::string refused = RecoverHivePages(placed_, fresh->pages.get(), &recovery);
        !refused.empty()) {
      return Failure(state == HiveState::kDirty ? kRegistryIoFailed : kRegistryCorrupt,
                     Unrecovered(state, refused));
    }
    if (!recovery.was_dirty) return Refusal(state);
    if (say_) {
      say_(placed_.shown + " was not closed cleanly: " + std::to_string(recovery.entries_applied) +
           (recovery.entries_applied == 1 ? " entry" : " entries") + " of its transaction logs (" +
           Joined(recovery.logs_used) + ") applied");
    }
    state = read_header();
  }
  if (Result refused = Refusal(state); !refused.ok()) return refused;
  const HiveHeader& header = fresh->header;
  if (header.bins_size == 0 || header.bins_size % kHiveBaseBlock != 0) {
    return Failure(kRegistryCorrupt, "is damaged: its header gives " +
                                         std::to_string(header.bins_size) +
                                         " bytes of hive bins, which no hive holds");
  }
  if (InFile(header.bins_size) > fresh->pages->size()) {
    return Failure(kRegistryCorrupt, "is damaged: its header gives " +
                                         std::to_string(header.bins_size) +
                                         " bytes of hive bins, and the file holds fewer");
  }
  fresh->walk =
      std::make_unique<HiveWalk>(*fresh->pages, header.minor_version, InFile(header.bins_size));
  fresh->file = file;
  *loaded = std::move(fresh);
  return kSuccess;
}

std::string HiveRegistry::Unrecovered(HiveState state, const std::string& reason) {
  const std::string what =
      state == HiveState::kDirty
          ? "holds changes that Windows has not yet merged from its transaction logs (Windows "
            "was not shut down cleanly, or is hibernated), and they cannot be applied: "
          : "has a damaged header, which its transaction logs cannot mend: ";
  return what + reason +
         "; or, where that Windows still starts, start it and shut it down fully, then run "
         "again. The hive and its logs were left as they were";
}

Result HiveRegistry::Refusal(HiveState state) const {
  switch (state) {
    case HiveState::kUsable:
      return kSuccess;
    case HiveState::kNotAHive:
      return Failure(kRegistryCorrupt, "is not a registry hive file");
    case HiveState::kBadChecksum:
      return Failure(kRegistryCorrupt, "has a damaged header: its checksum does not match");
    case HiveState::kDirty:
      return Failure(kRegistryIoFailed,
                     "holds changes that Windows has not yet merged from its transaction logs "
                     "(Windows was not shut down cleanly, or is hibernated). Start that Windows "
                     "and shut it down fully, then run again; the hive was left as it was");
  }
  return kSuccess;
}

}  // namespace vendrel::platform
