#include "platform/posix/profile/ini_document.h"

#include <algorithm>

#include "base/text.h"
#include "platform/posix/files/text_lines.h"

namespace vendrel::platform {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Blanks as the profile functions skip them, Ctrl-Z included, less the line
// breaks.
bool IsBlankInLine(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

bool IsBlank(char c) { return IsBlankInLine(c) || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

enum class Kind { kBlank, kComment, kSection, kKey };

// One line of the text: where it stands, and what it is.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;       // past its line end
  std::string_view content;  // without the line end
  Kind kind = Kind::kBlank;
  std::string_view name;  // the section's or the key's, trimmed
};

// Hands out the lines of the text, each classified.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : cursor_(text) {}

  bool Next(Line* line) {
    std::string_view raw;
    line->begin = cursor_.offset();
    if (!cursor_.Next(&raw)) return false;
    line->end = cursor_.offset();
    line->content = WithoutLineEnd(raw);
    std::string_view content = line->content;
    if (line->begin == 0 && content.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
      content.remove_prefix(kUtf8Mark.size());
    }
    content = TrimBlanks(content);
    line->name = {};
    if (content.empty()) {
      line->kind = Kind::kBlank;
    } else if (content.front() == ';') {
      line->kind = Kind::kComment;
    } else if (content.front() == '[' && content.rfind(']') != std::string_view::npos) {
      line->kind = Kind::kSection;
      line->name = TrimBlanks(content.substr(1, content.rfind(']') - 1));
    } else {
      line->kind = Kind::kKey;
      line->name = TrimBlanks(content.substr(0, content.find('=')));
    }
    return true;
  }

  // Reads the next section header, passing over the lines before it
  // unread: a search for '[' skips them, and only the lines a '[' starts
  // (after blanks) are looked at.
  bool NextHeader(Line* line) {
    const std::string_view text = cursor_.text();
    std::size_t from = cursor_.offset();
    for (;;) {
      const std::size_t bracket = text.find('[', from);
      if (bracket == std::string_view::npos) {
        cursor_.Seek(text.size());
        return false;
      }
      std::size_t start = bracket;
      while (start > from && IsBlankInLine(text[start - 1])) --start;
      const bool at_line_start = start == from || text[start - 1] == '\n' ||
                                 text[start - 1] == '\r' ||
                                 (start == kUtf8Mark.size() && text.substr(0, start) == kUtf8Mark);
      if (at_line_start) {
        // The line it starts, from its true beginning.
        std::size_t begin = start;
        while (begin > from && text[begin - 1] != '\n' && text[begin - 1] != '\r') --begin;
        cursor_.Seek(begin);
        if (!Next(line)) return false;
        if (line->kind == Kind::kSection) return true;
        from = cursor_.offset();
      } else {
        // Not a header: the rest of its line is passed over too, so that
        // every search starts at a line's beginning.
        cursor_.Seek(bracket);
        std::string_view rest;
        cursor_.Next(&rest);
        from = cursor_.offset();
      }
    }
  }

 private:
  LineCursor cursor_;
};

bool EndsWithLineEnd(std::string_view text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

// The key keeps its own spelling and the blanks around its "="; only the
// value after them changes.
std::string ReplacedValue(std::string_view content, std::string_view value) {
  std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return std::string(content) + "=" + std::string(value);
  std::size_t value_at = equals + 1;
  while (value_at < content.size() && (content[value_at] == ' ' || content[value_at] == '\t')) {
    ++value_at;
  }
  return std::string(content.substr(0, value_at)) + std::string(value);
}

// A change to the text: the bytes from..to give way to insert.
struct Change {
  std::size_t from = 0;
  std::size_t to = 0;
  std::string insert;
};

void Apply(std::string* text, const Change& change) {
  text->replace(change.from, change.to - change.from, change.insert);
}

Change PlanWrite(std::string_view text, const IniPlace& place, std::string_view value) {
  const std::string_view section = place.section;
  const std::string_view key = place.key;
  const std::string_view wanted_section = TrimBlanks(section);
  const std::string_view wanted_key = TrimBlanks(key);
  const std::string line_end(FirstLineEnd(text));
  // Lines before the first header form the nameless section.
  bool found = wanted_section.empty();
  bool in_section = found;
  std::size_t insert_at = 0;
  LineReader reader(text);
  Line line;
  while (in_section ? reader.Next(&line) : reader.NextHeader(&line)) {
    if (line.kind == Kind::kSection) {
      if (in_section) break;  // only the first matching section is written
      in_section = EqualsIgnoringCase(line.name, wanted_section);
      if (in_section) {
        found = true;
        insert_at = line.end;
      }
      continue;
    }
    if (!in_section) continue;
    if (line.kind != Kind::kBlank) insert_at = line.end;
    if (line.kind == Kind::kKey && EqualsIgnoringCase(line.name, wanted_key)) {
      return Change{line.begin, line.begin + line.content.size(),
                    ReplacedValue(line.content, value)};
    }
  }
  std::string entry = std::string(key) + "=" + std::string(value) + line_end;
  if (!found) {
    std::string tail = EndsWithLineEnd(text) || text.empty() ? "" : line_end;
    tail += "[" + std::string(section) + "]" + line_end + entry;
    return Change{text.size(), text.size(), std::move(tail)};
  }
  if (insert_at > 0 && !EndsWithLineEnd(text.substr(0, insert_at))) entry = line_end + entry;
  return Change{insert_at, insert_at, std::move(entry)};
}

std::optional<Change> PlanDelete(std::string_view text, const IniPlace& place) {
  const std::string_view wanted_section = TrimBlanks(place.section);
  const std::string_view wanted_key = TrimBlanks(place.key);
  bool in_section = wanted_section.empty();
  LineReader reader(text);
  Line line;
  while (in_section ? reader.Next(&line) : reader.NextHeader(&line)) {
    if (line.kind == Kind::kSection) {
      in_section = EqualsIgnoringCase(line.name, wanted_section);
    } else if (in_section && line.kind == Kind::kKey && EqualsIgnoringCase(line.name, wanted_key)) {
      return Change{line.begin, line.end, std::string()};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> Utf16Kind(std::string_view text) {
  if (text.substr(0, 2) == "\xFF\xFE") return "UTF-16 text (little-endian, with a byte-order mark)";
  if (text.substr(0, 2) == "\xFE\xFF") return "UTF-16 text (big-endian, with a byte-order mark)";
  // Without a mark: the start of the file, pair by pair. Single-byte text
  // never holds a zero byte.
  const std::size_t checked = std::min<std::size_t>(text.size(), 512) & ~std::size_t{1};
  std::size_t even_zeros = 0;
  std::size_t odd_zeros = 0;
  for (std::size_t i = 0; i < checked; i += 2) {
    even_zeros += text[i] == '\0';
    odd_zeros += text[i + 1] == '\0';
  }
  const std::size_t pairs = checked / 2;
  if (pairs == 0 || (even_zeros == pairs) == (odd_zeros == pairs)) return std::nullopt;
  return odd_zeros == pairs ? "UTF-16 text (little-endian, without a byte-order mark)"
                            : "UTF-16 text (big-endian, without a byte-order mark)";
}

void IniWrite(std::string* text, const IniPlace& place, std::string_view value) {
  Apply(text, PlanWrite(*text, place, value));
}

bool IniDelete(std::string* text, const IniPlace& place) {
  std::optional<Change> change = PlanDelete(*text, place);
  if (change) Apply(text, *change);
  return change.has_value();
}

}  // namespace vendrel::platform
