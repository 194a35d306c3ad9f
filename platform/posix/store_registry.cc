#include "platform/posix/store_registry.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/posix/atomic_update.h"
#include "platform/posix/config_path.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/win_error_map.h"
#include "platform/text.h"

namespace vendrel::platform {
namespace {

const char* HiveName(RootKey root) {
  return root == RootKey::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

Error StoreError(const std::string& path, const std::string& problem) {
  return Error(ErrorKind::kRegistry, "Registry store " + path + " " + problem,
               RaiseSite::kRegistryStore);
}

}  // namespace

StoreRegistry::StoreRegistry(std::string store_path) : store_path_(std::move(store_path)) {}

std::string StoreRegistry::DefaultStorePath() {
  return ConfigPath("VENDREL_REGISTRY", "registry.reg");
}

RegDocument StoreRegistry::Load(std::string content, std::string_view key_path) const {
  try {
    return RegDocument::Parse(std::move(content), key_path);
  } catch (const RegParseError& error) {
    throw StoreError(store_path_, "cannot be read at line " + std::to_string(error.line()) + ": " +
                                      error.what());
  }
}

WinCode StoreRegistry::OpenKey(RootKey root, const std::string& sub_key, std::uint32_t,
                               KeyHandle* key) {
  struct stat st;
  if (stat(store_path_.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return kFileNotFound;
    throw StoreError(store_path_, std::string("cannot be opened: ") + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw StoreError(store_path_, "is not a regular file");
  // A store no one may write is a key opened with all access refused.
  if ((st.st_mode & 0222) == 0) return kAccessDenied;
  UniqueFd fd(open(store_path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return WinCodeFromErrno(errno);
  std::string content;
  if (int error = ReadToEnd(fd.get(), &content); error != 0) {
    throw StoreError(store_path_, std::string("cannot be read: ") + std::strerror(error));
  }
  std::string path = std::string(HiveName(root)) + "\\" + sub_key;
  RegDocument document = Load(std::move(content), path);
  if (!document.HasKey(path)) return kFileNotFound;
  *key = next_handle_++;
  keys_[*key] = OpenedKey{path, document.ValuesOf(path)};
  return kSuccess;
}

WinCode StoreRegistry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) {
  auto opened = keys_.find(key);
  if (opened == keys_.end()) return kInvalidHandle;
  auto value = opened->second.values.find(UpperCase(name));
  if (value == opened->second.values.end()) return kFileNotFound;
  const std::string& bytes = value->second.data;
  auto needed = static_cast<std::uint32_t>(bytes.size());
  if (type != nullptr) *type = value->second.type;
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return kSuccess;
  }
  if (size == nullptr) return kInvalidParameter;
  if (*size < needed) {
    *size = needed;
    return kMoreData;
  }
  std::copy(bytes.begin(), bytes.end(), data);
  *size = needed;
  return kSuccess;
}

WinCode StoreRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) {
  auto opened = keys_.find(key);
  if (opened == keys_.end()) return kInvalidHandle;
  if (!RegDocument::CanHoldName(name)) return kInvalidParameter;
  RegValue value{type, std::string(reinterpret_cast<const char*>(data), size)};
  WinCode result = kSuccess;
  std::map<std::string, RegValue> updated;
  int error = UpdateFileAtomically(store_path_, WhenMissing::kFail,
                                   [&](std::string* old) -> std::optional<std::string> {
                                     const std::string& path = opened->second.path;
                                     RegDocument document = Load(std::move(*old), path);
                                     if (!document.HasKey(path)) {
                                       result = kKeyDeleted;
                                       return std::nullopt;
                                     }
                                     updated = document.ValuesOf(path);
                                     updated[UpperCase(name)] = value;
                                     document.Set(path, name, value);
                                     return std::move(document).TakeText();
                                   });
  if (error != 0) return WinCodeFromErrno(error);
  if (result == kSuccess) opened->second.values = std::move(updated);
  return result;
}

// Every value is on disk when SetValue returns, so there is nothing left to
// flush.
WinCode StoreRegistry::FlushKey(KeyHandle key) {
  return keys_.count(key) != 0 ? kSuccess : kInvalidHandle;
}

WinCode StoreRegistry::CloseKey(KeyHandle key) {
  return keys_.erase(key) != 0 ? kSuccess : kInvalidHandle;
}

}  // namespace vendrel::platform
