// Single-byte text helpers with one meaning across the program.
#ifndef VENDREL_BASE_TEXT_H_
#define VENDREL_BASE_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace vendrel {

// The capacity of a short string unless a record says otherwise.
constexpr std::size_t kShortStringMax = 255;

// Assignment to a short string of the given capacity: keeps the first
// capacity bytes.
inline std::string ShortString(std::string_view text, std::size_t capacity = kShortStringMax) {
  return std::string(text.substr(0, capacity));
}

// Upper-cases 'a' to 'z' only; every other byte, accented letters included,
// stays as it is.
inline std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Removes bytes with codes up to 32 at both ends.
inline std::string Trim(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// ASCII case-insensitive equality, as Windows compares key and value names.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace vendrel

#endif  // VENDREL_BASE_TEXT_H_
