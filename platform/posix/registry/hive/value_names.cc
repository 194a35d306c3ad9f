#include "platform/posix/registry/hive/value_names.h"

#include <locale.h>

#include <cwctype>
#include <string_view>
#include <unordered_map>

namespace vendrel::platform {
namespace {

// Unicode's simple upper case, as Windows folds the UTF-16 units of a name;
// only ASCII where the C library has no UTF-8 locale.
char32_t Upper(char32_t c) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (unicode == locale_t{}) return c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), unicode));
}

// The name as stored, each character in upper case. A byte that starts no
// well-formed character stands for itself, apart from every character, so
// that different bytes never fold into one.
std::u32string FoldStored(std::string_view utf8) {
  constexpr char32_t kStrayByte = 0x110000;
  std::u32string folded;
  for (std::size_t at = 0; at < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC0 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                                             : 4;
    char32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
    bool well_formed = length != 0 && at + length <= utf8.size();
    for (std::size_t i = 1; well_formed && i < length; ++i) {
      const auto next = static_cast<unsigned char>(utf8[at + i]);
      well_formed = (next & 0xC0) == 0x80;
      c = c << 6 | (next & 0x3Fu);
    }
    if (well_formed) {
      folded += Upper(c);
      at += length;
    } else {
      folded += static_cast<char32_t>(kStrayByte + lead);
      ++at;
    }
  }
  return folded;
}

// The name as the A functions see it, compared as they compare names.
std::string FoldConverted(std::string_view utf8, const CodePage& code_page) {
  std::string folded = code_page.FromUtf8(utf8);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

}  // namespace

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
