// The profile-file writer on any file and any sequence of writes and
// deletes: each write reads back as written by an independent reader, and
// every line the edit did not touch keeps its bytes and its place.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/profile/ini_document.h"

namespace {

using vendrel::platform::IniDelete;
using vendrel::platform::IniWrite;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r' || text.front() == '\n')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// Lines with their line ends: CR LF, LF or CR.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(text.substr(begin, i + 1 - begin));
    begin = i + 1;
  }
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

// The value of the first such key in the first such section, as a profile
// reader finds it; lines before the first section form the nameless one.
// Where an entry stands, as the independent reader below looks for it.
struct Entry {
  std::string_view section;
  std::string_view key;
};

std::optional<std::string> Read(std::string_view text, const Entry& entry) {
  const std::string_view section = entry.section;
  const std::string_view key = entry.key;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool in_section = Trim(section).empty();
  bool seen = in_section;
  for (std::string_view raw : Lines(text)) {
    std::string_view line = Trim(raw);
    if (!line.empty() && line.front() == '[' && line.rfind(']') != std::string_view::npos) {
      if (seen && in_section) return std::nullopt;
      in_section = SameIgnoringCase(Trim(line.substr(1, line.rfind(']') - 1)), Trim(section));
      seen = seen || in_section;
      continue;
    }
    if (!in_section || line.empty() || line.front() == ';') continue;
    std::size_t equals = line.find('=');
    if (!SameIgnoringCase(Trim(line.substr(0, equals)), Trim(key))) continue;
    if (equals == std::string_view::npos) return std::string();
    return std::string(Trim(line.substr(equals + 1)));
  }
  return std::nullopt;
}

// True when after is before with one place changed: text of at most
// max_lines lines put in at a line boundary, in place of one line's
// content, or in place of a whole line. Every other byte stays where it was.
bool OneLineChanged(std::string_view before, std::string_view after, std::size_t max_lines) {
  std::size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) {
    ++prefix;
  }
  std::size_t suffix = 0;
  while (suffix < before.size() && suffix < after.size() &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  auto fits = [&](std::size_t from, std::size_t to) {
    if (from > prefix || before.size() - to > suffix) return false;
    if (after.size() < from + (before.size() - to)) return false;
    std::string_view put = after.substr(from, after.size() - from - (before.size() - to));
    return Lines(put).size() <= max_lines;
  };
  std::size_t begin = 0;
  for (std::string_view line : Lines(before)) {
    std::size_t content = line.find_first_of("\r\n");
    if (content == std::string_view::npos) content = line.size();
    if (fits(begin, begin) || fits(begin, begin + content) || fits(begin, begin + line.size())) {
      return true;
    }
    begin += line.size();
  }
  return fits(begin, begin);
}

// A name a profile file can hold and give back: no line break, no "=" in
// a key, nothing a reader would take for a comment or a section, and no
// blanks around it, which a reader trims.
bool Storable(std::string_view text, bool is_key) {
  if (text != Trim(text) || text.find_first_of("\r\n") != std::string_view::npos) return false;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") return false;
  if (!is_key) return true;
  return !text.empty() && text.find('=') == std::string_view::npos && text.front() != ';' &&
         text.front() != '[';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string text = input.ConsumeRandomLengthString(4096);
  if (vendrel::platform::Utf16Kind(text)) return 0;
  const int operations = input.ConsumeIntegralInRange<int>(1, 6);
  for (int i = 0; i < operations && input.remaining_bytes() > 0; ++i) {
    const bool write = input.ConsumeBool();
    const std::string section = input.ConsumeRandomLengthString(16);
    const std::string key = input.ConsumeRandomLengthString(16);
    const std::string value = input.ConsumeRandomLengthString(32);
    if (!Storable(section, false) || section.find(']') != std::string::npos ||
        !Storable(key, true)) {
      continue;
    }
    if (write) {
      if (!Storable(value, false)) continue;
      std::string after = text;
      IniWrite(&after, {section, key}, value);
      FUZZ_CHECK(Read(after, Entry{section, key}) == value);
      // One value changed, or a key line added, or a section and a key line
      // added with the line end the last line lacked.
      FUZZ_CHECK(OneLineChanged(text, after, 3));
      text = std::move(after);
    } else {
      std::string after = text;
      if (!IniDelete(&after, {section, key})) {
        FUZZ_CHECK(after == text);
        continue;
      }
      FUZZ_CHECK(after.size() < text.size());
      FUZZ_CHECK(OneLineChanged(text, after, 0));
      text = std::move(after);
    }
  }
  return 0;
}
