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

}  // namespace

StoreRegistry::StoreRegistry(std::string store_path) : store_path_(std::move(store_path)) {}

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
  if (!placed_.folder) {
    if (int error = PlaceTrusted(store_path_, &placed_); error != 0) return error;
  }
  *placed = &placed_;
  return 0;
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
  std::string content;
  if (int error = ReadWholeFile(*placed, kLargestStore, &content); error != 0) {
    if (IsRefusal(error)) return kAccessDenied;
    return StoreFailure(kRegistryIoFailed, store_path_,
                        "cannot be read: " + Reason(error, *placed));
  }
  std::string path = std::string(HiveName(root)) + "\\" + sub_key;
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

Result StoreRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) {
  auto opened = keys_.find(key);
  if (opened == keys_.end()) return kInvalidHandle;
  if (!RegDocument::CanHoldName(name)) return kInvalidParameter;
  RegValue value{type, std::string(reinterpret_cast<const char*>(data), size)};
  const std::string& path = opened->second.path;
  // The store as read under the lock, edited in place; it becomes the
  // key's view once written, so at most two copies of the store are held.
  RegDocument fresh;
  Result result;
  const PlacedFile* placed = nullptr;
  if (int error = Placement(&placed); error != 0) return WinCodeFromErrno(error);
  int error = UpdateFileAtomically(*placed, WhenMissing::kFail, kLargestStore,
                                   [&](std::string* old) -> const std::string* {
                                     // Unchanged since this key last read or wrote it: already
                                     // validated.
                                     const RegDocument& seen = *opened->second.document;
                                     if (*old == seen.Serialize()) {
                                       fresh = RegDocument::Same(std::move(*old), seen);
                                     } else {
                                       result = Load(std::move(*old), path, &fresh);
                                       if (!result.ok()) return nullptr;
                                     }
                                     if (!fresh.HasKey(path)) {
                                       result = kKeyDeleted;
                                       return nullptr;
                                     }
                                     fresh.Set(path, name, value);
                                     return &fresh.Serialize();
                                   });
  if (error != 0) {
    return Result(WinCodeFromErrno(error), DescribeFileError(error, *placed, kLargestStore));
  }
  if (result.ok()) {
    last_ = std::make_shared<const RegDocument>(std::move(fresh));
    opened->second.document = last_;
  }
  return result;
}

// Every value is on disk when SetValue returns, so there is nothing left to
// flush.
Result StoreRegistry::FlushKey(KeyHandle key) {
  return keys_.count(key) != 0 ? kSuccess : kInvalidHandle;
}

Result StoreRegistry::CloseKey(KeyHandle key) {
  return keys_.erase(key) != 0 ? kSuccess : kInvalidHandle;
}

}  // namespace vendrel::platform
