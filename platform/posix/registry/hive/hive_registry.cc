#include "platform/posix/registry/hive/hive_registry.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "platform/posix/files/atomic_update.h"
#include "platform/posix/files/beside.h"
#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/disk_file.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_commit.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_in_place.h"
#include "platform/posix/registry/hive/hive_library.h"
#include "platform/posix/registry/hive/hive_loaded.h"
#include "platform/posix/registry/hive/hive_recovery.h"
#include "platform/posix/registry/hive/value_names.h"
#include "platform/posix/win_error_map.h"
#include "platform/query_answer.h"

namespace vendrel::platform {
namespace {

constexpr WinCode kCantWrite = 1013;  // ERROR_CANTWRITE
// Longer values go to big data cells in hives of version 1.4 and later,
// which hivex does not write back as such.
constexpr std::size_t kLargestPlainValue = 16344;
constexpr std::uint32_t kFirstBigDataVersion = 4;
// Room a set may add to the hive, besides the data it sets: the cells of
// the key's value list and of each of its values, which hivex writes anew,
// any of which may need a bin of its own.
constexpr std::size_t kRoomPerSet = std::size_t{3} * 4096;
constexpr std::size_t kRoomPerValue = std::size_t{2} * 64;
// A page as a log holds it, and the pages a set may touch besides the bins
// it adds: the key's own, and for the key's list and each value, the old
// cell freed and the page the new one lands in.
constexpr std::size_t kHivePage = 4096;
constexpr std::size_t kLoggedPage = kHivePage + 8;
constexpr std::size_t kPagesPerSet = 2;
constexpr std::size_t kPagesPerValue = 2;
// A log's base block and entry head, or its dirty vector's head.
constexpr std::size_t kLogHead = std::size_t{2} * 512;

bool IsText(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

// The values of a key as the file has them, for a change in place: their
// names as hivex gives them, their cells, and their data's cells, which
// hivex finds only where a cell of the hive begins.
std::vector<InPlaceChange::Held> HeldValues(hive_h* hive, const std::vector<std::string>& names,
                                            const std::vector<std::size_t>& cells) {
  std::vector<InPlaceChange::Held> held;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    std::size_t length = 0;
    errno = 0;
    hive_value_h data = hivex_value_data_cell_offset(hive, cells[i], &length);
    const bool known = data != 0 || errno == 0;
    held.push_back({names[i], cells[i], known ? data : InPlaceChange::kUnknownData});
  }
  return held;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

HiveRegistry::HiveRegistry(std::string hive_path, Contents contents,
                           std::shared_ptr<const CodePage> code_page, std::string code_page_problem,
                           const DriveMap* drives, HiveRegistry* installation)
    : hive_path_(std::move(hive_path)),
      drives_(drives),
      installation_(installation),
      contents_(contents),
      code_page_(std::move(code_page)),
      code_page_problem_(std::move(code_page_problem)) {}

struct HiveRegistry::Staged {
  LockedFile locked;
  // Held on the disk: the length the hive may grow to, and the log of the
  // pages the change may touch (an old-format one marks them in a bitmap
  // of the whole hive).
  std::size_t length = 0;
  std::size_t log = kLogHead;
  bool changed = false;  // a set was staged (hivex rewrites the header even for none)
  // Keys whose values hivex has written anew in memory: their cells are
  // hivex's own, and not yet in the file to be checked.
  std::vector<hive_node_h> rewritten;
  // The same sets, as the file may take them where it stands.
  InPlaceChange in_place;
};

HiveRegistry::~HiveRegistry() { Commit().IgnoreFailure(); }

int HiveRegistry::Placement(const PlacedFile** placed) {
  *placed = &placed_;
  return PlaceOnItsDiskOnce(drives_, hive_path_, &placed_);
}

HiveRegistry::HiveRegistry(HiveRegistry&&) noexcept = default;

Result HiveRegistry::Failure(WinCode code, const std::string& problem) const {
  return Result(code, "Registry hive " + hive_path_ + " " + problem);
}

bool HiveRegistry::HivePath(RootKey root, const std::string& sub_key, bool has_wow64_node,
                            std::vector<std::string>* path) const {
  std::vector<std::string> names;
  std::size_t begin = 0;
  while (begin <= sub_key.size()) {
    std::size_t end = sub_key.find('\\', begin);
    if (end == std::string::npos) end = sub_key.size();
    if (end > begin) names.push_back(sub_key.substr(begin, end - begin));
    begin = end + 1;
  }
  if (contents_ == Contents::kSoftware) {
    // The hive is HKEY_LOCAL_MACHINE\Software; on a 64-bit Windows a 32-bit
    // program sees that hive's Wow6432Node in its place.
    if (root != RootKey::kLocalMachine || names.empty() ||
        !EqualsIgnoringCase(names.front(), "Software")) {
      return false;
    }
    names.erase(names.begin());
    if (has_wow64_node) names.insert(names.begin(), "Wow6432Node");
  } else if (root != RootKey::kCurrentUser) {
    return false;
  }
  path->clear();
  for (const std::string& name : names) path->push_back(code_page_->ToUtf8(name));
  return true;
}

Result HiveRegistry::Damaged(const std::string& key_name, const std::string& problem) const {
  return Failure(kRegistryCorrupt, "is damaged: the key " + key_name + " cannot be used: " +
                                       problem + ". The hive was left as it was");
}

Result HiveRegistry::CheckNames(const std::string& key_name,
                                const std::vector<std::string>& names) const {
  auto same = FindNamesTakenForOne(names, *code_page_);
  if (!same) return kSuccess;
  return Damaged(key_name, "it holds the values \"" + code_page_->FromUtf8(names[same->first]) +
                               "\" and \"" + code_page_->FromUtf8(names[same->second]) +
                               "\", whose names a program cannot tell apart");
}

bool HiveRegistry::ReadValue(void* hive_memory, std::size_t value, Value* read,
                             std::string* stored_name) const {
  auto* hive = static_cast<hive_h*>(hive_memory);
  Owned<char> key(hivex_value_key(hive, value));
  if (!key) return false;
  *stored_name = key.get();
  read->name = code_page_->FromUtf8(*stored_name);
  hive_type type = hive_t_REG_NONE;
  std::size_t length = 0;
  Owned<char> data(hivex_value_value(hive, value, &type, &length));
  read->type = TypeNumber(type);
  if (data) {
    std::string bytes(data.get(), length);
    read->data = IsText(read->type) ? code_page_->FromUtf16(bytes) : std::move(bytes);
  }
  return true;
}

Result HiveRegistry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t,
                             KeyHandle* key) {
  if (!code_page_) return Failure(kRegistryIoFailed, code_page_problem_);
  const PlacedFile* placed = nullptr;
  struct stat st;
  int missing = Placement(&placed);
  if (missing == 0) missing = StatPlaced(*placed, &st);
  if (missing != 0) {
    // Where a link leads says nothing of what is there: the disk's links
    // may name any path of this machine.
    return Failure(kRegistryIoFailed,
                   missing == EXDEV ? "cannot be opened: a link on its path leads off its disk"
                                    : std::string("cannot be opened: ") + std::strerror(missing));
  }
  if (!S_ISREG(st.st_mode)) return Failure(kRegistryIoFailed, "is not a regular file");
  // Asked for all access, as the store is: a hive the user may not write is
  // a key opened with access refused. One on a read-only medium reads; its
  // writes fail as a write-protected medium's.
  if (int refused = MayWrite(*placed); refused != 0 && refused != EROFS) {
    if (IsRefusal(refused)) return kAccessDenied;
    return Failure(kRegistryIoFailed, std::string("cannot be opened: ") + std::strerror(refused));
  }
  // Read as it stands between two writers' changes; while this run holds
  // the lock for a change, as it staged it.
  if (!staged_) {
    if (Result failed = LoadSettled(*placed); !failed.ok()) return failed;
  }
  hive_h* const hive = loaded_->hive.get();
  std::vector<std::string> path;
  const bool has_wow64_node = NodeAt(hive, {"Wow6432Node"}) != 0;
  if (!HivePath(root, sub_key, has_wow64_node, &path)) return kFileNotFound;
  hive_node_h node = NodeAt(hive, path);
  if (node == 0) {
    if (errno != 0) {
      return Failure(kRegistryCorrupt,
                     std::string("cannot be read as a hive: ") + std::strerror(errno));
    }
    return kFileNotFound;
  }
  OpenedKey opened{sub_key, path, {}};
  Owned<hive_value_h> values(hivex_node_values(hive, node));
  if (!values) {
    return Damaged(sub_key, std::string("its values cannot be read: ") + std::strerror(errno));
  }
  std::vector<std::string> names;
  for (hive_value_h* value = values.get(); *value != 0; ++value) {
    Value read;
    names.emplace_back();
    if (!ReadValue(hive, *value, &read, &names.back())) {
      return Damaged(sub_key,
                     std::string("the name of a value cannot be read: ") + std::strerror(errno));
    }
    opened.values.push_back(std::move(read));
  }
  if (Result taken_for_one = CheckNames(sub_key, names); !taken_for_one.ok()) return taken_for_one;
  *key = next_handle_++;
  keys_[*key] = std::move(opened);
  return kSuccess;
}

Result HiveRegistry::LoadSettled(const PlacedFile& placed) {
  SettledFile settled;
  if (int error = SettledFile::Open(placed, kLargestHive, &settled); error != 0) {
    if (IsRefusal(error)) return kAccessDenied;
    std::string reason = DescribeFileError(error, placed, kLargestHive);
    return Failure(kRegistryIoFailed,
                   "cannot be read: " + (reason.empty() ? std::strerror(error) : reason));
  }
  if (loaded_ && SameFile(loaded_->file, settled.status())) return kSuccess;
  loaded_.reset();
  return Load(settled.fd(), settled.status(), &loaded_);
}

std::optional<std::uint32_t> HiveRegistry::WindowsBuild() {
  if (contents_ != Contents::kSoftware) {
    return installation_ != nullptr ? installation_->WindowsBuild() : std::nullopt;
  }
  // The hive as loaded serves, staged sets and all: they never touch it.
  const PlacedFile* placed = nullptr;
  if (!loaded_ && (Placement(&placed) != 0 || !LoadSettled(*placed).ok())) return std::nullopt;
  return WindowsBuildIn(loaded_->hive.get());
}

Result HiveRegistry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) {
  auto opened = keys_.find(key);
  if (opened == keys_.end()) return kInvalidHandle;
  const std::vector<Value>& values = opened->second.values;
  auto value = std::find_if(values.begin(), values.end(),
                            [&](const Value& v) { return EqualsIgnoringCase(v.name, name); });
  if (value == values.end()) return kFileNotFound;
  return AnswerQuery(value->type, value->data, type, data, size);
}

Result HiveRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) {
  auto opened = keys_.find(key);
  if (opened == keys_.end()) return kInvalidHandle;
  if (!staged_) {
    if (Result begun = BeginChange(); !begun.ok()) return begun;
  }
  Loaded* const loaded = loaded_.get();
  hive_h* const hive = loaded->hive.get();
  const std::string& key_name = opened->second.name;
  std::vector<std::size_t> key_path;
  hive_node_h node = NodeAt(hive, opened->second.path, &key_path);
  if (node == 0) {
    if (errno == 0) return kKeyDeleted;
    return Damaged(key_name, std::string("it cannot be found: ") + std::strerror(errno));
  }

  // hivex writes back every value of the key; a long one would come back as
  // one plain cell, which Windows reads as big data: the key is refused
  // rather than damaged.
  std::string stored_name = code_page_->ToUtf8(name);
  // hivex writes every value of the key anew: room for all of them.
  std::size_t room = kRoomPerSet + 2 * (stored_name.size() + size);
  std::size_t pages = kPagesPerSet + kPagesPerValue;
  Owned<hive_value_h> values(hivex_node_values(hive, node));
  if (!values) {
    return Damaged(key_name, std::string("its values cannot be read: ") + std::strerror(errno));
  }
  // The hive may be another than the one the key was opened in; what makes
  // that one unsafe to change is looked for again.
  std::vector<std::string> names;
  std::vector<std::size_t> value_cells;
  for (hive_value_h* value = values.get(); *value != 0; ++value) {
    hive_type value_type = hive_t_REG_NONE;
    std::size_t length = 0;
    if (hivex_value_type(hive, *value, &value_type, &length) == 0) room += kRoomPerValue + length;
    pages += kPagesPerValue;
    if (length > kLargestPlainValue && loaded->minor_version >= kFirstBigDataVersion) {
      return Failure(kCantWrite, "was not changed: the key holds a value of " +
                                     std::to_string(length) +
                                     " bytes, which the hive library would write back in a "
                                     "form Windows reads as damaged");
    }
    Owned<char> existing(hivex_value_key(hive, *value));
    if (!existing) {
      return Damaged(key_name,
                     std::string("the name of a value cannot be read: ") + std::strerror(errno));
    }
    if (EqualsIgnoringCase(code_page_->FromUtf8(existing.get()), name)) {
      stored_name = existing.get();  // the value keeps the spelling of its name
    }
    names.emplace_back(existing.get());
    value_cells.push_back(*value);
  }
  if (Result taken_for_one = CheckNames(key_name, names); !taken_for_one.ok()) return taken_for_one;
  const bool rewritten = std::find(staged_->rewritten.begin(), staged_->rewritten.end(), node) !=
                         staged_->rewritten.end();
  if (!rewritten) {
    if (std::string unsafe =
            CheckCellsAChangeFrees(loaded->CellsIn(staged_->locked.fd()), key_path, value_cells);
        !unsafe.empty()) {
      return Damaged(key_name, unsafe);
    }
    staged_->in_place.AddKey(node, HeldValues(hive, names, value_cells));
  }
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (IsText(type)) bytes = code_page_->ToUtf16(bytes);
  // Held before the set is staged, so that a set that could not be
  // committed is refused here, with the hive as it was.
  const std::size_t log = staged_->log + room + pages * kLoggedPage;
  if (int error = staged_->locked.ReserveInPlace(staged_->length + room,
                                                 log + (staged_->length + room) / kHivePage);
      error != 0) {
    return FileFailure(error);
  }
  staged_->length += room;
  staged_->log = log;
  staged_->changed = true;
  hive_set_value set{stored_name.data(), hive_t_REG_NONE, bytes.size(), bytes.data()};
  PutTypeNumber(type, &set.t);
  // The change is made in memory: short of memory, only what hivex finds
  // wrong with the key's cells stops it.
  if (hivex_node_set_value(hive, node, &set, 0) != 0) {
    // The loaded hive may be half changed: the change is given up whole.
    const int error = errno;
    staged_.reset();
    loaded_.reset();
    if (error == ENOMEM) return kNotEnoughMemory;
    return Damaged(key_name, std::string("its values cannot be changed: ") + std::strerror(error));
  }
  if (!rewritten) staged_->rewritten.push_back(node);
  staged_->in_place.Set(node, stored_name, type, std::move(bytes));

  std::vector<Value>& kept = opened->second.values;
  auto value = std::find_if(kept.begin(), kept.end(),
                            [&](const Value& v) { return EqualsIgnoringCase(v.name, name); });
  Value written{code_page_->FromUtf8(stored_name), type,
                std::string(reinterpret_cast<const char*>(data), size)};
  if (value != kept.end()) {
    *value = std::move(written);
  } else {
    kept.push_back(std::move(written));
  }
  return kSuccess;
}

Result HiveRegistry::FileFailure(int error) const {
  return Result(WinCodeFromErrno(error), DescribeFileError(error, placed_, kLargestHive));
}

Result HiveRegistry::BeginChange() {
  const PlacedFile* placed = nullptr;
  if (int error = Placement(&placed); error != 0) return WinCodeFromErrno(error);
  auto staged = std::make_unique<Staged>();
  if (int error = LockedFile::Lock(*placed, kLargestHive, &staged->locked); error != 0) {
    return FileFailure(error);
  }
  // The hive this object read or committed last is still loaded, and is the
  // file as long as nobody has changed it since: it is not read again.
  const struct stat& file = staged->locked.status();
  if (!loaded_ || !loaded_->cells_as_in_file || !SameFile(loaded_->file, file)) {
    loaded_.reset();
    if (Result failed = Load(staged->locked.fd(), file, &loaded_); !failed.ok()) return failed;
  }
  // A dirty hive is committed as its logs recover it, which may be longer.
  struct stat content;
  if (fstat(loaded_->CellsIn(staged->locked.fd()), &content) != 0) return FileFailure(errno);
  staged->length = static_cast<std::size_t>(std::max(file.st_size, content.st_size));
  staged_ = std::move(staged);
  return kSuccess;
}

Result HiveRegistry::Commit() {
  if (!staged_) return kSuccess;
  std::unique_ptr<Staged> staged = std::move(staged_);
  if (!staged->changed) return kSuccess;
  // Most changes the hive takes where it stands. For the others hivex
  // writes the whole hive, by name: to a pipe, compared page by page with
  // the hive as loaded as it comes. hivex keeps every cell it did not
  // change where it was, so the pages that differ are few.
  // A recovered hive is changed as it stands in memory.
  ChangedPages changed;
  const int content = loaded_->CellsIn(staged->locked.fd());
  struct stat content_status;
  if (fstat(content, &content_status) != 0) return FileFailure(errno);
  int error = staged->in_place.Pages(content, static_cast<std::uint64_t>(content_status.st_size),
                                     loaded_->bins, loaded_->minor_version, &changed);
  const bool in_place = error == 0;
  if (error == ENOTSUP) {
    error = FindChangedPages(
        content, content_status.st_size,
        [this](int pipe) {
          errno = 0;
          if (hivex_commit(loaded_->hive.get(), ProcPath(pipe).c_str(), 0) == 0) return 0;
          return errno != 0 ? errno : EIO;
        },
        MendHiveChecksum, &changed);
  }
  CommitOutcome outcome{error, {}};
  if (error == 0) {
    staged->locked.GiveUpRoom();  // to the log and the hive's growth
    HiveCommit commit{&placed_, staged->locked.fd(), [this] { return WindowsBuild(); }, -1,
                      nullptr};
    if (loaded_->recovered) {
      commit.recovered = loaded_->recovered.get();
      commit.recovered_pages = &loaded_->recovered_pages;
    }
    outcome = CommitThroughLog(commit, changed);
  }
  // Kept for the next change while the file stays as it was written.
  if (!outcome.ok() || loaded_->recovered || StatPlaced(placed_, &loaded_->file) != 0) {
    loaded_.reset();
  } else if (in_place) {
    loaded_->cells_as_in_file = false;
  }
  if (!outcome.refusal.empty()) return Failure(kRegistryIoFailed, outcome.refusal);
  return outcome.error != 0 ? FileFailure(outcome.error) : kSuccess;
}

Result HiveRegistry::FlushKey(KeyHandle key) {
  if (keys_.count(key) == 0) return kInvalidHandle;
  return Commit();
}

Result HiveRegistry::CloseKey(KeyHandle key) {
  if (keys_.erase(key) == 0) return kInvalidHandle;
  return Commit();
}

}  // namespace vendrel::platform
