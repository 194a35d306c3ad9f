// How RegQueryValueExA answers for a value it has found, for the registries
// that keep their values themselves (the fakes, the store, hive files).
#ifndef VENDREL_PLATFORM_QUERY_ANSWER_H_
#define VENDREL_PLATFORM_QUERY_ANSWER_H_

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "base/result.h"

namespace vendrel::platform {

// The value's type, then its size for the size query (data null), or its
// bytes; kMoreData with the size it needs for a buffer that is too small.
inline Result AnswerQuery(std::uint32_t stored_type, std::string_view bytes, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* size) {
  const auto needed = static_cast<std::uint32_t>(bytes.size());
  if (type != nullptr) *type = stored_type;
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

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_QUERY_ANSWER_H_
