// Whether the value names of one key can be told apart. Windows compares
// names without regard to case and never lets a key hold two that compare
// equal; the A functions see each name only after the code page has
// converted it, where two different names may also become one.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_VALUE_NAMES_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_VALUE_NAMES_H_

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/registry/hive/code_page.h"

namespace vendrel::platform {

// The first two of names (UTF-8, as the hive library gives them) that are
// equal without regard to case, either as stored or as the code page
// converts them for the A functions: their positions in names.
std::optional<std::pair<std::size_t, std::size_t>> FindNamesTakenForOne(
    const std::vector<std::string>& names, const CodePage& code_page);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_VALUE_NAMES_H_
