// Fixed-size little-endian fields, as this program's journals hold them.
#ifndef VENDREL_PLATFORM_POSIX_FILES_LITTLE_ENDIAN_H_
#define VENDREL_PLATFORM_POSIX_FILES_LITTLE_ENDIAN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vendrel::platform {

inline void PutField(std::string* out, std::uint64_t value, int bytes) {
  for (int byte = 0; byte < bytes; ++byte) *out += static_cast<char>((value >> (8 * byte)) & 0xFF);
}

// The field of size bytes at at; callers make sure bytes holds it.
inline std::uint64_t Field(std::string_view bytes, std::size_t at, int size) {
  std::uint64_t value = 0;
  for (int byte = size - 1; byte >= 0; --byte) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(byte)]);
  }
  return value;
}

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_LITTLE_ENDIAN_H_
