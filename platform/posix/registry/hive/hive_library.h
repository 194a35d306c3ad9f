// The hive library (hivex) as the hive registry uses it: handles that free
// themselves, a value's type as the number the hive stores, and the hive
// opened, read and walked through a descriptor.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LIBRARY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LIBRARY_H_

#include <hivex.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/registry/hive/hive_header.h"

namespace vendrel::platform {

struct CloseHive {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HiveHandle = std::unique_ptr<hive_h, CloseHive>;

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeMemory>;

// A hive stores any 32-bit number as a value's type, where hivex's enum
// names only a few: the number goes in and out of the enum's bytes as they
// are, never through a conversion that assumes one of its names.
std::uint32_t TypeNumber(const hive_type& type);
void PutTypeNumber(std::uint32_t number, hive_type* type);

// The name by which a library that opens files by name reaches fd.
std::string ProcPath(int fd);

// The hive open as fd, opened through hivex for writing: through the
// descriptor itself, or, for a hive whose stored checksum is one of the two
// Windows writes in place of the plain XOR (which hivex refuses), through a
// copy in memory that carries the plain XOR. hivex opens a file of its own
// and reads it whole, so the copy need not outlive the open.
HiveHandle OpenThroughHivex(int fd, const HiveHeader& header);

// The node at path below the root: 0 when a key on it is missing, with
// errno set when the hive could not be read. The keys passed on the way,
// the root and the node itself included, go to on_the_way when given.
hive_node_h NodeAt(hive_h* hive, const std::vector<std::string>& path,
                   std::vector<std::size_t>* on_the_way = nullptr);

// The build of Windows a SOFTWARE hive says it belongs to
// (Microsoft\Windows NT\CurrentVersion\CurrentBuildNumber), or none.
std::optional<std::uint32_t> WindowsBuildIn(hive_h* hive);

// The header of the hive open as fd.
HiveState ReadHeader(int fd, HiveHeader* header);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_LIBRARY_H_
