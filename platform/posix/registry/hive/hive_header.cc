#include "platform/posix/registry/hive/hive_header.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace vendrel::platform {
namespace {

constexpr std::size_t kChecksumAt = 508;

std::uint32_t Word(std::string_view data, std::size_t at) {
  std::uint32_t value = 0;
  for (int b = 3; b >= 0; --b) {
    value = (value << 8) | static_cast<unsigned char>(data[at + static_cast<std::size_t>(b)]);
  }
  return value;
}

// The little-endian bytes of a word, as the base block holds it.
std::array<char, 4> Bytes(std::uint32_t word) {
  std::array<char, 4> bytes{};
  for (std::size_t b = 0; b < bytes.size(); ++b) {
    bytes[b] = static_cast<char>((word >> (8 * b)) & 0xFF);
  }
  return bytes;
}

std::uint32_t PlainXor(std::string_view data) {
  std::uint32_t value = 0;
  for (std::size_t at = 0; at < kChecksumAt; at += 4) value ^= Word(data, at);
  return value;
}

}  // namespace

std::uint32_t WindowsChecksum(std::uint32_t plain_xor) {
  if (plain_xor == 0) return 1;
  if (plain_xor == 0xFFFFFFFF) return 0xFFFFFFFE;
  return plain_xor;
}

HiveState ReadHiveHeader(std::string_view base_block, HiveHeader* header) {
  if (base_block.size() < kHiveBaseBlock || base_block.substr(0, 4) != "regf") {
    return HiveState::kNotAHive;
  }
  header->primary_sequence = Word(base_block, 4);
  header->secondary_sequence = Word(base_block, 8);
  header->minor_version = Word(base_block, 24);
  header->root_cell = Word(base_block, 36);
  header->bins_size = Word(base_block, 40);
  header->stored_checksum = Word(base_block, kChecksumAt);
  header->plain_xor = PlainXor(base_block);
  if (header->stored_checksum != WindowsChecksum(header->plain_xor)) return HiveState::kBadChecksum;
  if (header->primary_sequence != header->secondary_sequence) return HiveState::kDirty;
  return HiveState::kUsable;
}

void PutChecksum(std::string* hive, std::uint32_t checksum) {
  const std::array<char, 4> bytes = Bytes(checksum);
  hive->replace(kChecksumAt, bytes.size(), bytes.data(), bytes.size());
}

void MendHiveChecksum(char* start, std::size_t size) {
  if (size < kChecksumAt + 4) return;
  const std::array<char, 4> bytes =
      Bytes(WindowsChecksum(PlainXor(std::string_view(start, kChecksumAt + 4))));
  std::memcpy(start + kChecksumAt, bytes.data(), bytes.size());
}

}  // namespace vendrel::platform
