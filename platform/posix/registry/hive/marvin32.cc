#include "platform/posix/registry/hive/marvin32.h"

#include "platform/posix/files/little_endian.h"

namespace vendrel::platform {
namespace {

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

void Mix(std::uint32_t* low, std::uint32_t* high) {
  *high ^= *low;
  *low = RotateLeft(*low, 20);
  *low += *high;
  *high = RotateLeft(*high, 9);
  *high ^= *low;
  *low = RotateLeft(*low, 27);
  *low += *high;
  *high = RotateLeft(*high, 19);
}

}  // namespace

std::uint64_t Marvin32(std::string_view data, std::uint64_t key) {
  auto low = static_cast<std::uint32_t>(key);
  auto high = static_cast<std::uint32_t>(key >> 32);
  std::size_t at = 0;
  for (; data.size() - at >= 4; at += 4) {
    // Little-endian words, as the hash reads them, a whole word at a time.
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data() + at);
    low += bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    Mix(&low, &high);
  }
  // The last 0-3 bytes, then a single 0x80 byte marks where the data ended.
  const std::size_t tail = data.size() - at;
  std::uint32_t last = 0x80u << (8 * tail);
  if (tail > 0) last |= static_cast<std::uint32_t>(Field(data, at, static_cast<int>(tail)));
  low += last;
  Mix(&low, &high);
  Mix(&low, &high);
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace vendrel::platform
