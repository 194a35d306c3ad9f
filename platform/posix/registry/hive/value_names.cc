#include "platform/posix/registry/hive/value_names.h"

#include <locale.h>

#include <cwctype>
#include <string_view>
#include <unordered_map>

namespace vendrel::platform {
namespace {

// The name as stored, each UTF-16 unit in upper case (a surrogate stands
// for itself), and a last odd byte apart from every unit.
std::u32string FoldStored(std::string_view utf16) {
  std::u32string folded;
  for (std::size_t at = 0; at + 1 < utf16.size(); at += 2) {
    const char32_t unit = static_cast<unsigned char>(utf16[at]) |
                          static_cast<char32_t>(static_cast<unsigned char>(utf16[at + 1])) << 8;
    folded += unit >= 0xD800 && unit < 0xE000 ? unit : UpperCase(unit);
  }
  if (utf16.size() % 2 != 0) folded += static_cast<char32_t>(0x110000 + utf16.back());
  return folded;
}

// The name as the A functions see it, compared as they compare names.
std::string FoldConverted(std::string_view utf16, const CodePage& code_page) {
  std::string folded = code_page.FromUtf16(utf16);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

}  // namespace

char32_t UpperCase(char32_t c) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (unicode == locale_t{}) return c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), unicode));
}

std::optional<std::pair<std::size_t, std::size_t>> FindNamesTakenForOne(
    const std::vector<std::string>& names, const CodePage& code_page) {
  std::unordered_map<std::u32string, std::size_t> stored;
  std::unordered_map<std::string, std::size_t> converted;
  stored.reserve(names.size());
  converted.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto [first, fresh] = stored.emplace(FoldStored(names[i]), i);
    if (!fresh) return std::make_pair(first->second, i);
    auto [first_converted, fresh_converted] =
        converted.emplace(FoldConverted(names[i], code_page), i);
    if (!fresh_converted) return std::make_pair(first_converted->second, i);
  }
  return std::nullopt;
}

}  // namespace vendrel::platform
