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

// The first two of names (UTF-16LE, as a hive stores them) that are equal
// without regard to case, either as stored or as the code page converts
// them for the A functions: their positions in names.
std::optional<std::pair<std::size_t, std::size_t>> FindNamesTakenForOne(
    const std::vector<std::string>& names, const CodePage& code_page);

// Unicode's simple upper case, as Windows folds the UTF-16 units of a name;
// only ASCII where the C library has no UTF-8 locale.
char32_t UpperCase(char32_t c);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_VALUE_NAMES_H_
