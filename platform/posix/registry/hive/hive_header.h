// The base block at the start of a registry hive file: what must hold before
// a hive is read or written, and the checksum Windows expects of it.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_HEADER_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_HEADER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vendrel::platform {

constexpr std::size_t kHiveBaseBlock = 4096;

struct HiveHeader {
  std::uint32_t primary_sequence = 0;
  std::uint32_t secondary_sequence = 0;
  std::uint32_t minor_version = 0;
  std::uint32_t root_cell = 0;  // the root key's cell, from the first hive bin
  std::uint32_t bins_size = 0;  // the hive bins behind the base block
  std::uint32_t stored_checksum = 0;
  std::uint32_t plain_xor = 0;  // of the first 508 bytes
};

enum class HiveState {
  kUsable,
  kNotAHive,     // too short, or no "regf" signature
  kDirty,        // changes wait in its transaction logs
  kBadChecksum,  // the base block is damaged
};

// Reads the base block (the first kHiveBaseBlock bytes of the file).
HiveState ReadHiveHeader(std::string_view base_block, HiveHeader* header);

// The checksum Windows stores: the XOR of the first 508 bytes as 32-bit
// words, except that 0 is stored as 1 and 0xFFFFFFFF as 0xFFFFFFFE.
std::uint32_t WindowsChecksum(std::uint32_t plain_xor);

// Puts checksum in its place in a hive file's content held in memory (at
// least its base block).
void PutChecksum(std::string* hive, std::uint32_t checksum);

// Gives a hive file's content, from its start (size bytes of it), the
// checksum Windows expects of the base block it holds; a start too short to
// hold the checksum is left as it is.
void MendHiveChecksum(char* start, std::size_t size);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_HIVE_HEADER_H_
