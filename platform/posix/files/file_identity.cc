#include "platform/posix/files/file_identity.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

namespace vendrel::platform {
namespace {

bool Unsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

// The names of the file's extended attributes (ACLs among them); none on a
// file system that has no such attributes.
std::optional<std::vector<std::string>> AttributeNames(int fd) {
  for (;;) {
    ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) {
      if (Unsupported(errno)) return std::vector<std::string>();
      return std::nullopt;
    }
    std::string list(static_cast<std::size_t>(size), '\0');
    size = flistxattr(fd, list.data(), list.size());
    if (size < 0) {
      if (errno == ERANGE) continue;  // grew in between
      return std::nullopt;
    }
    list.resize(static_cast<std::size_t>(size));
    std::vector<std::string> names;
    for (std::size_t at = 0; at < list.size();) {
      std::size_t end = list.find('\0', at);
      if (end == std::string::npos) end = list.size();
      if (end > at) names.push_back(list.substr(at, end - at));
      at = end + 1;
    }
    return names;
  }
}

std::optional<std::string> AttributeValue(int fd, const std::string& name) {
  for (;;) {
    ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string value(static_cast<std::size_t>(size), '\0');
    size = fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (size < 0) {
      if (errno == ERANGE) continue;
      return std::nullopt;
    }
    value.resize(static_cast<std::size_t>(size));
    return value;
  }
}

}  // namespace

bool CarryIdentity(int from, const struct stat& from_stat, int to) {
  if (fchown(to, from_stat.st_uid, from_stat.st_gid) != 0) return false;
  std::optional<std::vector<std::string>> names = AttributeNames(from);
  std::optional<std::vector<std::string>> given = AttributeNames(to);
  if (!names || !given) return false;
  for (const std::string& name : *given) {
    if (std::find(names->begin(), names->end(), name) != names->end()) continue;
    if (fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) return false;
  }
  for (const std::string& name : *names) {
    const std::optional<std::string> value = AttributeValue(from, name);
    if (!value) {
      if (errno == ENODATA) continue;  // removed in between
      return false;
    }
    const std::string& bytes = *value;
    if (fsetxattr(to, name.c_str(), bytes.data(), bytes.size(), 0) != 0) return false;
  }
  // Last, as writing and changing the owner may clear set-id bits.
  return fchmod(to, from_stat.st_mode & 07777) == 0;
}

}  // namespace vendrel::platform
