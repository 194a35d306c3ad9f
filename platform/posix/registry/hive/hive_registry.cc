#include "platform/posix/registry/hive/hive_registry.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "base/text.h"
#include "platform/posix/files/atomic_update.h"
#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/disk_file.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_commit.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_in_place.h"
#include "platform/posix/registry/hive/hive_loaded.h"
#include "platform/posix/registry/hive/hive_recovery.h"
#include "platform/posix/registry/hive/value_names.h"
#include "platform/posix/win_error_map.h"
#include "platform/query_answer.h"

namespace vendrel::platform {
namespace {

constexpr WinCode kCantWrite = 1013;  // ERROR_CANTWRITE
// Room a set may add to the hive, besides the data and name it sets: its
// value cell, its data cell, the key's longer value list, each rounded to
// a cell, and the header of the bin they go to.
constexpr std::size_t kRoomPerSet = 256;
constexpr std::size_t kRoomPerValue = 4;
// A page as a log holds it, and the pages a set may touch besides the bins
// it adds: the key's own, its value list's, its value's and its data's.
constexpr std::size_t kLoggedPage = kHivePage + 8;
constexpr std::size_t kPagesPerSet = 4;
// A log's base block and entry head, or its dirty vector's head.
constexpr std::size_t kLogHead = std::size_t{2} * 512;

bool IsText(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

// Text as a reader of a key wants it: up to its first NUL.
void EndTextAtNul(HiveRegistry::Value* value) {
  if (IsText(value->type)) value->data.resize(std::min(value->data.size(), value->data.find('\0')));
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Adds to changed the pages of content that differ from the file open as
// fd and that changed lacks. Returns 0 or an errno value.
int AddPagesThatDiffer(int fd, const std::string& content, ChangedPages* changed) {
  std::set<std::uint64_t> have;
  std::string_view records = changed->records;
  std::uint64_t at = 0;
  for (std::string_view bytes; TakePageRecord(&records, &at, &bytes);) have.insert(at);
  std::string page(kHivePage, '\0');
  for (at = 0; at < content.size(); at += kHivePage) {
    const std::string_view wanted = std::string_view(content).substr(at, kHivePage);
    const ssize_t got = pread(fd, page.data(), wanted.size(), static_cast<off_t>(at));
    if (got < 0) return errno;
    if (have.count(at) == 0 &&
        wanted != std::string_view(page.data(), static_cast<std::size_t>(got))) {
      AddChangedPage(changed, at, wanted);
    }
  }
  changed->length = std::max<std::uint64_t>(changed->length, content.size());
  return 0;
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
  // The hive as a journal an earlier version of this program left beside
  // it completes it (a change that version did not finish), and that
  // content as a file in memory the hive is read from.
  std::string pending;
  UniqueFd pending_file;
  // Held on the disk: the length the hive may grow to, and the log of the
  // pages the change may touch (an old-format one marks them in a bitmap
  // of the whole hive).
  std::size_t length = 0;
  std::size_t log = kLogHead;
  InPlaceChange change;
};

HiveRegistry::~HiveRegistry() { Commit().IgnoreFailure(); }

int HiveRegistry::Placement(const PlacedFile** placed) {
  *placed = &placed_;
  return PlaceOnItsDiskOnce(drives_, hive_path_, &placed_);
}

HiveRegistry::HiveRegistry(HiveRegistry&&) noexcept = default;

Result HiveRegistry::Failure(WinCode code, const std::string& problem) const {
  if (hive_path_.empty()) return Result(code, problem);
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
  for (const std::string& name : names) path->push_back(code_page_->ToUtf16(name));
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
  return Damaged(key_name, "it holds the values \"" + code_page_->FromUtf16(names[same->first]) +
                               "\" and \"" + code_page_->FromUtf16(names[same->second]) +
                               "\", whose names a program cannot tell apart");
}

Result HiveRegistry::FindKey(const std::string& key_name, const std::vector<std::string>& path,
                             FoundKey* found) const {
  const HiveWalk& walk = *loaded_->walk;
  *found = FoundKey{};
  if (std::string wrong = walk.Key(loaded_->header.root_cell, &found->key, false); !wrong.empty()) {
    return Failure(kRegistryCorrupt, "is damaged: " + wrong);
  }
  found->way.push_back(found->key);
  for (const std::string& name : path) {
    bool there = false;
    KeyCell child;
    if (std::string wrong = walk.Child(found->key, name, &child, &there); !wrong.empty()) {
      return Failure(kRegistryCorrupt, "is damaged: " + wrong);
    }
    if (!there) return kFileNotFound;
    found->key = std::move(child);
    found->way.push_back(found->key);
  }
  if (std::string wrong = walk.Values(found->key, &found->values); !wrong.empty()) {
    return Damaged(key_name, wrong);
  }
  return kSuccess;
}

Result HiveRegistry::HasWow64Node(bool* has) const {
  FoundKey found;
  Result result = FindKey("Wow6432Node", {code_page_->ToUtf16("Wow6432Node")}, &found);
  *has = result.ok();
  return result == kFileNotFound ? kSuccess : result;
}

Result HiveRegistry::CannotOpen(int error) const {
  // Where a link leads says nothing of what is there: the disk's links may
  // name any path of this machine.
  return Failure(kRegistryIoFailed, error == EXDEV
                                        ? "cannot be opened: a link on its path leads off its disk"
                                        : std::string("cannot be opened: ") + std::strerror(error));
}

Result HiveRegistry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t,
                             KeyHandle* key) {
  if (!code_page_) return Failure(kRegistryIoFailed, code_page_problem_);
  const PlacedFile* placed = nullptr;
  struct stat st;
  int missing = Placement(&placed);
  if (missing == 0) missing = StatPlaced(*placed, &st);
  if (missing != 0) return CannotOpen(missing);
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
  std::vector<std::string> path;
  bool has_wow64_node = false;
  if (Result failed = HasWow64Node(&has_wow64_node); !failed.ok()) return failed;
  if (!HivePath(root, sub_key, has_wow64_node, &path)) return kFileNotFound;
  FoundKey found;
  if (Result failed = FindKey(sub_key, path, &found); !failed.ok()) return failed;
  OpenedKey opened{sub_key, path, {}};
  std::vector<std::string> names;
  for (const ValueCell& value : found.values) {
    Value read;
    if (Result failed = ReadValue(sub_key, value, &read); !failed.ok()) return failed;
    names.push_back(value.name);
    opened.values.push_back(std::move(read));
  }
  if (Result taken_for_one = CheckNames(sub_key, names); !taken_for_one.ok()) return taken_for_one;
  // While this run holds the lock for a change, the key reads as staged.
  for (const InPlaceChange::NewValue& set :
       staged_ ? staged_->change.SetsOf(found.key.cell) : std::vector<InPlaceChange::NewValue>{}) {
    Value staged{code_page_->FromUtf16(set.name), set.type,
                 IsText(set.type) ? code_page_->FromUtf16(set.data) : set.data};
    auto same = std::find_if(names.begin(), names.end(),
                             [&](const std::string& name) { return name == set.name; });
    if (same == names.end()) {
      names.push_back(set.name);
      opened.values.push_back(std::move(staged));
    } else {
      opened.values[static_cast<std::size_t>(same - names.begin())] = std::move(staged);
    }
  }
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
  KeyContent version;
  if (!ReadKey({"Microsoft", "Windows NT", "CurrentVersion"}, &version).ok()) return std::nullopt;
  for (const Value& value : version.values) {
    if (!EqualsIgnoringCase(value.name, "CurrentBuildNumber")) continue;
    char* end = nullptr;
    const unsigned long build = std::strtoul(value.data.c_str(), &end, 10);
    if (end != value.data.c_str() && build <= 0xFFFFFFFFUL)
      return static_cast<std::uint32_t>(build);
  }
  return std::nullopt;
}

Result HiveRegistry::ReadValue(const std::string& key_name, const ValueCell& cell,
                               Value* read) const {
  *read = Value{code_page_->FromUtf16(cell.name), cell.type, {}};
  if (std::string wrong = loaded_->walk->Data(cell, &read->data); !wrong.empty()) {
    return Damaged(key_name, wrong);
  }
  if (IsText(read->type)) read->data = code_page_->FromUtf16(read->data);
  return kSuccess;
}

Result HiveRegistry::ReadKey(const std::vector<std::string>& path, KeyContent* content,
                             const std::string& subkey_value) {
  *content = KeyContent{};
  if (!code_page_) return Failure(kRegistryIoFailed, code_page_problem_);
  // The hive as loaded serves: a change stages sets of the product's key alone.
  if (!loaded_) {
    const PlacedFile* placed = nullptr;
    if (int missing = Placement(&placed); missing != 0) return CannotOpen(missing);
    if (Result failed = LoadSettled(*placed); !failed.ok()) return failed;
  }
  std::vector<std::string> names;
  names.reserve(path.size());
  for (const std::string& name : path) names.push_back(code_page_->ToUtf16(name));
  const std::string key_name = path.empty() ? std::string() : path.back();
  FoundKey found;
  if (Result failed = FindKey(key_name, names, &found); !failed.ok()) return failed;
  for (const ValueCell& cell : found.values) {
    content->values.emplace_back();
    if (Result failed = ReadValue(key_name, cell, &content->values.back()); !failed.ok()) {
      return failed;
    }
    EndTextAtNul(&content->values.back());
  }
  std::vector<KeyCell> children;
  if (std::string wrong = loaded_->walk->Children(found.key, &children); !wrong.empty()) {
    return Damaged(key_name, wrong);
  }
  const std::string wanted = code_page_->ToUtf16(subkey_value);
  for (const KeyCell& child : children) {
    content->subkeys.push_back(code_page_->FromUtf16(child.name));
    if (subkey_value.empty()) continue;
    std::vector<ValueCell> cells;
    if (std::string wrong = loaded_->walk->Values(child, &cells); !wrong.empty()) {
      return Damaged(content->subkeys.back(), wrong);
    }
    Value read;
    for (const ValueCell& cell : cells) {
      if (!SameName(cell.name, wanted)) continue;
      if (Result failed = ReadValue(content->subkeys.back(), cell, &read); !failed.ok()) {
        return failed;
      }
      EndTextAtNul(&read);
      break;
    }
    content->subkey_values.push_back(std::move(read.data));
  }
  return kSuccess;
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
  const std::string& key_name = opened->second.name;
  // The hive may be another than the one the key was opened in; what makes
  // that one unsafe to change is looked for again.
  FoundKey found;
  if (Result failed = FindKey(key_name, opened->second.path, &found); !failed.ok()) {
    return failed == kFileNotFound ? Result(kKeyDeleted) : failed;
  }
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (IsText(type)) bytes = code_page_->ToUtf16(bytes);
  if (IsBigData(loaded_->header.minor_version, bytes.size())) {
    return Failure(kCantWrite, "was not changed: data of " + std::to_string(bytes.size()) +
                                   " bytes would need big data cells, which this program does "
                                   "not write");
  }
  std::string stored_name = code_page_->ToUtf16(name);
  std::vector<std::string> names;
  for (const ValueCell& value : found.values) {
    // The value keeps the spelling of its name.
    if (EqualsIgnoringCase(code_page_->FromUtf16(value.name), name)) stored_name = value.name;
    names.push_back(value.name);
  }
  if (Result taken_for_one = CheckNames(key_name, names); !taken_for_one.ok()) return taken_for_one;
  const HiveWalk& walk = *loaded_->walk;
  if (!staged_->change.HasKey(found.key.cell)) {
    KeyPlace place;
    if (std::string wrong = walk.Place(found.way, &place); !wrong.empty()) {
      return Damaged(key_name, wrong);
    }
    if (std::string unsafe = CheckCellsAChangeFrees(walk, place, found.values); !unsafe.empty()) {
      return Damaged(key_name, unsafe);
    }
    std::vector<InPlaceChange::Held> held;
    for (const ValueCell& value : found.values) {
      held.push_back({value.name, value.cell, walk.DataCell(value)});
    }
    staged_->change.AddKey(found.key.cell, std::move(held));
  }
  // Held before the set is staged, so that a set that could not be
  // committed is refused here, with the hive as it was.
  const std::size_t room =
      kRoomPerSet + stored_name.size() + bytes.size() + kRoomPerValue * (found.values.size() + 1);
  const std::size_t log = staged_->log + room + kPagesPerSet * kLoggedPage;
  if (int error = staged_->locked.ReserveInPlace(staged_->length + room,
                                                 log + (staged_->length + room) / kHivePage);
      error != 0) {
    return FileFailure(error);
  }
  staged_->length += room;
  staged_->log = log;
  staged_->change.Set(found.key.cell, stored_name, type, std::move(bytes));

  std::vector<Value>& kept = opened->second.values;
  auto value = std::find_if(kept.begin(), kept.end(),
                            [&](const Value& v) { return EqualsIgnoringCase(v.name, name); });
  Value written{code_page_->FromUtf16(stored_name), type,
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
  if (int error = LockedFile::Lock(*placed, kLargestHive, &staged->locked, &staged->pending);
      error != 0) {
    return FileFailure(error);
  }
  // The unfinished change goes to the hive with this one, through its log.
  if (!staged->pending.empty()) {
    staged->pending_file = UniqueFd(memfd_create("vendrel-pending-hive", MFD_CLOEXEC));
    if (!staged->pending_file) return FileFailure(errno);
    if (int error = WriteAll(staged->pending_file.get(), staged->pending, 0); error != 0) {
      return FileFailure(error);
    }
    loaded_.reset();
    if (Result failed = Load(staged->pending_file.get(), staged->locked.status(), &loaded_);
        !failed.ok()) {
      return failed;
    }
  }
  // The hive this object read last is still loaded, and is the file as
  // long as nobody has changed it since; its pages are read through the
  // locked descriptor from here on.
  const struct stat& file = staged->locked.status();
  if (!loaded_ || !SameFile(loaded_->file, file)) {
    loaded_.reset();
    if (Result failed = Load(staged->locked.fd(), file, &loaded_); !failed.ok()) return failed;
  }
  // A dirty hive is committed as its logs recover it, which may be longer.
  staged->length = static_cast<std::size_t>(loaded_->pages->size());
  staged_ = std::move(staged);
  return kSuccess;
}

Result HiveRegistry::Commit() {
  if (!staged_) return kSuccess;
  std::unique_ptr<Staged> staged = std::move(staged_);
  if (staged->change.empty()) return kSuccess;
  // The change is made to the hive's pages as loaded (a dirty one as its
  // logs recover it), and only the pages it changes are written.
  ChangedPages changed;
  std::string refusal;
  int error =
      staged->change.Pages(*loaded_->walk, loaded_->header.minor_version, &changed, &refusal);
  if (error == 0 && !staged->pending.empty()) {
    error = AddPagesThatDiffer(staged->locked.fd(), staged->pending, &changed);
  }
  if (error == EINVAL) {
    loaded_.reset();
    return Failure(kRegistryCorrupt,
                   "was not changed: " + refusal + ". The hive was left as it was");
  }
  CommitOutcome outcome{error, {}};
  if (error == 0) {
    staged->locked.GiveUpRoom();  // to the log and the hive's growth
    HiveCommit commit{&placed_, staged->locked.fd(), [this] { return WindowsBuild(); },
                      loaded_->pages.get()};
    outcome = CommitThroughLog(commit, changed);
    if (outcome.ok() && !staged->pending.empty()) staged->locked.DropJournal();
  }
  // Read again for whatever follows: the file is another now.
  loaded_.reset();
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
