#include "platform/posix/registry/hive/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace vendrel::platform {
namespace {

constexpr std::size_t kUnits = 65536;

constexpr int kUndefined = -1;
constexpr int kLeadByte = -2;  // the first of two bytes of one character

// The code point a byte of the code page stands for, kUndefined when the
// converter does not define it, kLeadByte when it only starts a character.
int Convert(iconv_t converter, unsigned char byte) {
  char in[1] = {static_cast<char>(byte)};
  char out[4] = {};
  char* in_at = in;
  char* out_at = out;
  std::size_t in_left = 1;
  std::size_t out_left = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &in_at, &in_left, &out_at, &out_left) == static_cast<std::size_t>(-1)) {
    return errno == EINVAL ? kLeadByte : kUndefined;
  }
  if (out_left != 2) return kUndefined;
  return static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8;
}

}  // namespace

std::unique_ptr<CodePage> CodePage::Make(int number) {
  const std::string name = "CP" + std::to_string(number);
  iconv_t converter = iconv_open("UTF-16LE", name.c_str());
  // iconv_open answers (iconv_t)-1 when it has no such converter.
  if (reinterpret_cast<std::intptr_t>(converter) == -1) return nullptr;
  std::unique_ptr<CodePage> page(new CodePage(number));
  page->from_unicode_ = std::make_unique<std::int16_t[]>(kUnits);
  for (std::size_t unit = 0; unit < kUnits; ++unit) page->from_unicode_[unit] = -1;
  bool single_byte = true;
  for (int byte = 0; byte < 256 && single_byte; ++byte) {
    int unit = Convert(converter, static_cast<unsigned char>(byte));
    if (unit == kLeadByte) single_byte = false;
    const auto code = static_cast<std::uint16_t>(unit < 0 ? byte : unit);
    page->to_unicode_[static_cast<std::size_t>(byte)] = code;
    if (page->from_unicode_[code] < 0) page->from_unicode_[code] = static_cast<std::int16_t>(byte);
  }
  iconv_close(converter);
  if (!single_byte) return nullptr;
  return page;
}

std::string CodePage::ToUtf16(std::string_view text) const {
  std::string out;
  out.reserve(2 * text.size());
  for (char c : text) {
    std::uint16_t unit = to_unicode_[static_cast<unsigned char>(c)];
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

std::string CodePage::FromUtf16(std::string_view utf16) const {
  std::string out;
  out.reserve(utf16.size() / 2);
  for (std::size_t at = 0; at + 1 < utf16.size(); at += 2) {
    auto unit = static_cast<std::size_t>(static_cast<unsigned char>(utf16[at]) |
                                         static_cast<unsigned char>(utf16[at + 1]) << 8);
    std::int16_t byte = from_unicode_[unit];
    out += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return out;
}

}  // namespace vendrel::platform
