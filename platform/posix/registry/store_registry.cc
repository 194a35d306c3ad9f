#include "platform/posix/registry/store_registry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "platform/posix/config_path.h"
#include "platform/posix/files/atomic_update.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/win_error_map.h"
#include "platform/query_answer.h"

namespace vendrel::platform {
namespace {

const char* HiveName(RootKey root) {
  return root == RootKey::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

// A store the layer cannot use: the run must hear of it, with the file named.
Result StoreFailure(WinCode code, const std::string& path, const std::string& problem) {
  return Result(code, "Registry store " + path + " " + problem);
}

// Why the store could not be read or written, in words.
std::string Reason(int error, const PlacedFile& placed) {
  std::string described = DescribeFileError(error, placed, kLargestStore);
  return described.empty() ? std::string(std::strerror(error)) : described;
}

// Room a set may add to the store's text, at most: the value's line with
// every byte escaped and its lines continued, and the key's own section.
std::size_t MostAddedBy(const std::string& key_path, const std::string& name, std::uint32_t size) {
  const std::size_t names = key_path.size() + name.size();
  const std::size_t data = size;
  return 2 * names + 4 * data + 256;
}

}  // namespace

StoreRegistry::StoreRegistry(std::string store_path) : store_path_(std::move(store_path)) {}

StoreRegistry::~StoreRegistry() { Commit().IgnoreFailure(); }

std::string StoreRegistry::DefaultStorePath() {
  return ConfigPath("VENDREL_REGISTRY", "registry.reg");
}

Result StoreRegistry::Load(std::string content, std::string_view key_path,
                           RegDocument* document) const {
  try {
    *document = RegDocument::Parse(std::move(content), key_path);
    return kSuccess;
  } catch (const RegParseError& error) {
    return StoreFailure(
        kRegistryCorrupt, store_path_,
        "cannot be read at line " + std::to_string(error.line()) + ": " + error.what());
  }
}

int StoreRegistry::Placement(const PlacedFile** placed) {
  *placed = &placed_;
  return PlaceTrustedOnce(store_path_, &placed_);
}

Result StoreRegistry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t,
                              KeyHandle* key) {
  const PlacedFile* placed = nullptr;
  struct stat st;
  int missing = Placement(&placed);
  if (missing == 0) missing = StatPlaced(*placed, &st);
  if (missing != 0) {
    if (missing == ENOENT || missing == ENOTDIR) return kFileNotFound;
    return StoreFailure(kRegistryIoFailed, store_path_,
                        std::string("cannot be opened: ") + std::strerror(missing));
  }
  if (!S_ISREG(st.st_mode)) {
    return StoreFailure(kRegistryIoFailed, store_path_, "is not a regular file");
  }
  // The key is opened asking for all access: a store the user may not
  // write (or not read) is a key opened with access refused. One on a
  // read-only medium reads; its writes fail as a write-protected medium's.
  if (int refused = MayWrite(*placed); refused != 0 && refused != EROFS) {
    if (IsRefusal(refused)) return kAccessDenied;
    return StoreFailure(kRegistryIoFailed, store_path_,
                        std::string("cannot be opened: ") + std::strerror(refused));
  }
  std::string path = std::string(HiveName(root)) + "\\" + sub_key;
  if (staged_) {
    // This run holds the store's lock: what it reads is what it staged.
    if (!staged_->document->HasKey(path)) return kFileNotFound;
    *key = next_handle_++;
    keys_[*key] = OpenedKey{path, staged_->document};
    return kSuccess;
  }
  std::string content;
  if (int error = ReadWholeFile(*placed, kLargestStore, &content); error != 0) {
    if (IsRefusal(error)) return kAccessDenied;
    return StoreFailure(kRegistryIoFailed, store_path_,
                        "cannot be read: " + Reason(error, *placed));
  }
  Document document;
  if (Result loaded = Current(std::move(content), path, &document); !loaded.ok()) return loaded;
  if (!document->HasKey(path)) return kFileNotFound;
  *key = next_handle_++;
  keys_[*key] = OpenedKey{path, std::move(document)};
  return kSuccess;
}

Result StoreRegistry::Current(std::string content, const std::string& key_path,
                              Document* document) {
  if (last_ && last_->IndexedFor(key_path) && last_->Serialize() == content) {
    *document = last_;
    return kSuccess;
  }
  RegDocument parsed;
  if (Result loaded = Load(std::move(content), key_path, &parsed); !loaded.ok()) return loaded;
  last_ = std::make_shared<const RegDocument>(std::move(parsed));
  *document = last_;
  return kSuccess;
}

Result StoreRegistry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) {
  auto opened = keys_.find(key);
  if (opened == keys_.end()) return kInvalidHandle;
  std::optional<RegValue> value = opened->second.document->Find(opened->second.path, name);
  if (!value) return kFileNotFound;
  return AnswerQuery(value->type, value->data, type, data, size);
}

Result StoreRegistry::FileFailure(int error) const {
  return Result(WinCodeFromErrno(error), DescribeFileError(error, placed_, kLargestStore));
}

Result StoreRegistry::BeginChange(const std::string& key_path) {
  const PlacedFile* placed = nullptr;
  if (int error = Placement(&placed); error != 0) return WinCodeFromErrno(error);
  auto staged = std::make_unique<Staged>();
  if (int error = LockedFile::Lock(*placed, kLargestStore, &staged->locked); error != 0) {
    return FileFailure(error);
  }
  std::string content;
  if (int error = ReadToEnd(staged->locked.fd(), &content, kLargestStore); error != 0) {
    return FileFailure(error);
  }
  // Unchanged since this object last read or wrote it: already validated.
  RegDocument fresh;
  if (last_ && content == last_->Serialize()) {
    fresh = RegDocument::Same(std::move(content), *last_);
  } else if (Result loaded = Load(std::move(content), key_path, &fresh); !loaded.ok()) {
    return loaded;
  }
  staged->document = std::make_shared<RegDocument>(std::move(fresh));
  // Every open key sees the store as staged from now on.
  last_ = staged->document;
  for (auto& [handle, opened] : keys_) opened.document = last_;
  staged_ = std::move(staged);
  return kSuccess;
}

Result StoreRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) {
  auto opened = keys_.find(key);
  if (opened == keys_.end()) return kInvalidHandle;
  if (!RegDocument::CanHoldName(name)) return kInvalidParameter;
  const std::string& path = opened->second.path;
  if (!staged_) {
    if (Result begun = BeginChange(path); !begun.ok()) return begun;
  }
  RegDocument& document = *staged_->document;
  if (!document.HasKey(path)) return kKeyDeleted;
  // Room for the store as this set leaves it, held before the set is
  // staged, so that a set that could not be committed is refused here.
  if (int error =
          staged_->locked.Reserve(document.Serialize().size() + MostAddedBy(path, name, size));
      error != 0) {
    return FileFailure(error);
  }
  document.Set(path, name, RegValue{type, std::string(reinterpret_cast<const char*>(data), size)});
  staged_->changed = true;
  return kSuccess;
}

Result StoreRegistry::Commit() {
  if (!staged_) return kSuccess;
  std::unique_ptr<Staged> staged = std::move(staged_);
  if (!staged->changed) return kSuccess;
  if (int error = staged->locked.Replace(staged->document->Serialize()); error != 0) {
    return FileFailure(error);
  }
  return kSuccess;
}

Result StoreRegistry::FlushKey(KeyHandle key) {
  if (keys_.count(key) == 0) return kInvalidHandle;
  return Commit();
}

Result StoreRegistry::CloseKey(KeyHandle key) {
  if (keys_.erase(key) == 0) return kInvalidHandle;
  return Commit();
}

}  // namespace vendrel::platform
