#include "platform/posix/registry/hive/hive_library.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/files/file_io.h"
#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {

static_assert(sizeof(hive_type) == sizeof(std::uint32_t));
std::uint32_t TypeNumber(const hive_type& type) {
  std::uint32_t number = 0;
  std::memcpy(&number, &type, sizeof number);
  return number;
}
void PutTypeNumber(std::uint32_t number, hive_type* type) {
  std::memcpy(type, &number, sizeof number);
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

HiveHandle OpenThroughHivex(int fd, const HiveHeader& header) {
  if (header.stored_checksum == header.plain_xor) {
    return HiveHandle(hivex_open(ProcPath(fd).c_str(), HIVEX_OPEN_WRITE));
  }
  std::string content;
  if (lseek(fd, 0, SEEK_SET) != 0 || ReadToEnd(fd, &content, kLargestHive) != 0) return nullptr;
  if (content.size() < kHiveBaseBlock) {
    errno = EINVAL;  // cut short since its header was read
    return nullptr;
  }
  PutChecksum(&content, header.plain_xor);
  UniqueFd copy(memfd_create("vendrel-hive", MFD_CLOEXEC));
  if (!copy || WriteAll(copy.get(), content) != 0) return nullptr;
  return HiveHandle(hivex_open(ProcPath(copy.get()).c_str(), HIVEX_OPEN_WRITE));
}

hive_node_h NodeAt(hive_h* hive, const std::vector<std::string>& path,
                   std::vector<std::size_t>* on_the_way) {
  errno = 0;
  hive_node_h node = hivex_root(hive);
  for (std::size_t i = 0; node != 0; ++i) {
    if (on_the_way != nullptr) on_the_way->push_back(node);
    if (i == path.size()) break;
    errno = 0;
    node = hivex_node_get_child(hive, node, path[i].c_str());
  }
  return node;
}

std::optional<std::uint32_t> WindowsBuildIn(hive_h* hive) {
  const hive_node_h node = NodeAt(hive, {"Microsoft", "Windows NT", "CurrentVersion"});
  if (node == 0) return std::nullopt;
  const hive_value_h value = hivex_node_get_value(hive, node, "CurrentBuildNumber");
  if (value == 0) return std::nullopt;
  Owned<char> text(hivex_value_string(hive, value));
  if (!text) return std::nullopt;
  char* end = nullptr;
  const unsigned long build = std::strtoul(text.get(), &end, 10);
  if (end == text.get() || *end != '\0' || build > 0xFFFFFFFFUL) return std::nullopt;
  return static_cast<std::uint32_t>(build);
}

HiveState ReadHeader(int fd, HiveHeader* header) {
  std::string block(kHiveBaseBlock, '\0');
  ssize_t got = pread(fd, block.data(), block.size(), 0);
  block.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return ReadHiveHeader(block, header);
}

}  // namespace vendrel::platform
