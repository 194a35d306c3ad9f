#include "scramble/scramble_name.h"

#include "base/text.h"

namespace vendrel {
namespace {

enum class CharClass { kNone, kDigit, kUpper, kLower };

CharClass ClassOf(unsigned char c) {
  if (c >= '0' && c <= '9') return CharClass::kDigit;
  if (c >= 'A' && c <= 'Z') return CharClass::kUpper;
  if (c >= 'a' && c <= 'z') return CharClass::kLower;
  return CharClass::kNone;
}

int Selector(CharClass kind, int k) {
  static constexpr int kDigit[] = {3, 7, 0, 5};
  static constexpr int kUpper[] = {4, 8, 1, 7, 6};
  static constexpr int kLower[] = {5, 8, 1};
  switch (kind) {
    case CharClass::kDigit:
      return kDigit[k % 4];
    case CharClass::kUpper:
      return kUpper[k % 5];
    case CharClass::kLower:
      return kLower[k % 3];
    case CharClass::kNone:
      break;
  }
  return 0;
}

// The first characters of the shift text: the integer part, a separator,
// then fraction digits by long division. The separator's own character
// never matters, as a position that lands on it gives 4.
std::string ShiftText(int k, bool odd_selector, std::size_t length) {
  const std::uint64_t numerator =
      odd_selector ? 10u * static_cast<unsigned>(k) : 100u * static_cast<unsigned>(k);
  const std::uint64_t denominator = odd_selector ? 7 : 13;
  std::string text = std::to_string(numerator / denominator) + ".";
  std::uint64_t remainder = numerator % denominator;
  while (text.size() < length) {
    remainder *= 10;
    text += static_cast<char>('0' + remainder / denominator);
    remainder %= denominator;
  }
  return text;
}

std::string_view ClassMembers(CharClass kind) {
  switch (kind) {
    case CharClass::kDigit:
      return "0123456789";
    case CharClass::kUpper:
      return "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    case CharClass::kLower:
      return "abcdefghijklmnopqrstuvwxyz";
    case CharClass::kNone:
      break;
  }
  return {};
}

// Moves a class member by shift within its class, forward or back.
char Shift(unsigned char c, CharClass kind, int shift) {
  std::string_view members = ClassMembers(kind);
  const int size = static_cast<int>(members.size());
  const int at = static_cast<int>(c - static_cast<unsigned char>(members.front()));
  return members[static_cast<std::size_t>(((at + shift) % size + size) % size)];
}

std::string ShiftAll(std::string_view text, int direction) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    CharClass kind = ClassOf(c);
    if (kind == CharClass::kNone) {
      out += static_cast<char>(c);
      continue;
    }
    const int k = static_cast<int>(i + 1);
    out += Shift(c, kind, direction * ShiftDigit(k, Selector(kind, k)));
  }
  return out;
}

}  // namespace

std::uint32_t RandomDraw(ScrambleGenerator& generator, std::uint32_t range) {
  generator.state = generator.state * 134775813u + 1u;
  const std::uint64_t product = static_cast<std::uint64_t>(range) * generator.state;
  return static_cast<std::uint32_t>(product >> 32);
}

std::string FillerText(std::uint32_t draw) {
  std::string digits = std::to_string(draw);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int d = digits[i] - '0';
    switch ((i + 1) % 3) {
      case 1:
        digits[i] = static_cast<char>('A' + d);
        break;
      case 0:
        digits[i] = static_cast<char>('a' + d);
        break;
      default:
        break;
    }
  }
  return digits;
}

int ShiftDigit(int k, int n) {
  const std::size_t position = n == 0 ? 1 : static_cast<std::size_t>(n);
  const std::string text = ShiftText(k, n % 2 == 1, position);
  const char c = text[position - 1];
  return (c >= '0' && c <= '9') ? c - '0' : 4;
}

std::string ScrambleName(std::string_view name, char mode, ScrambleGenerator& generator) {
  if (mode == 'D') {
    std::string plain = ShiftAll(name, -1);
    std::size_t first = plain.find('m');
    std::size_t last = plain.rfind('m');
    if (first == std::string::npos || first == last) return std::string();
    return plain.substr(first + 1, last - first - 1);
  }
  std::string working = ShortString(name);
  working = ShortString(FillerText(RandomDraw(generator, kFillerRange)) + "m" + working);
  working = ShortString(working + "m" + FillerText(RandomDraw(generator, kFillerRange)));
  return ShiftAll(working, +1);
}

}  // namespace vendrel
