#include "platform/posix/registry/hive/hive_registry.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/files/beside.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_loaded.h"
#include "platform/posix/registry/hive/hive_recovery.h"

// Reading a hive file into memory, a dirty one recovered from its logs
// first, and the reports of a file that cannot be read.
namespace vendrel::platform {

Result HiveRegistry::Load(int fd, const struct stat& file, std::unique_ptr<Loaded>* loaded) const {
  HiveHeader header;
  auto fresh = std::make_unique<Loaded>();
  const HiveState state = ReadHeader(fd, &header);
  // A hive Windows did not close cleanly is read as its logs complete it;
  // so is one whose base block the logs can mend.
  if (state == HiveState::kDirty || state == HiveState::kBadChecksum) {
    Recovery recovery;
    if (std::string refused = RecoverHiveFile(placed_, fd, &fresh->recovered, &recovery);
        !refused.empty()) {
      return Failure(state == HiveState::kDirty ? kRegistryIoFailed : kRegistryCorrupt,
                     Unrecovered(state, refused));
    }
    if (!recovery.was_dirty) return Refusal(state);
    fresh->recovered_pages = std::move(recovery.written);
    fd = fresh->recovered.get();
    if (Result refused = Refusal(ReadHeader(fd, &header)); !refused.ok()) return refused;
  } else if (Result refused = Refusal(state); !refused.ok()) {
    return refused;
  }
  // What fd holds may be a pending rewrite's content rather than the file.
  struct stat held = file;
  if (fstat(fd, &held) != 0) return Failure(kRegistryIoFailed, std::strerror(errno));
  // The bins are checked while hivex reads the hive, both reading only; the
  // hive is not used unless they pass.
  std::string damage;
  int open_error = 0;
  RunBeside([&] { damage = CheckHiveBins(fd, held, header, &fresh->bins); },
            [&] {
              fresh->hive = OpenThroughHivex(fd, header);
              open_error = errno;
            });
  if (!damage.empty()) return Failure(kRegistryCorrupt, "is damaged: " + damage);
  if (!fresh->hive) {
    return Failure(kRegistryCorrupt,
                   std::string("cannot be read as a hive: ") + std::strerror(open_error));
  }
  fresh->file = file;
  fresh->minor_version = header.minor_version;
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
