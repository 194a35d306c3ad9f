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

// Upper-case 'a' to 'z' only (lower-case 'A' to 'Z'); every other byte,
// accented letters included, stays as it is.
inline char UpperLetter(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char LowerLetter(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string UpperCase(std::string text) {
  for (char& c : text) c = UpperLetter(c);
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
    if (UpperLetter(a[i]) != UpperLetter(b[i])) return false;
  }
  return true;
}

}  // namespace vendrel

#endif  // VENDREL_BASE_TEXT_H_
