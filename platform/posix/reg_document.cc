#include "platform/posix/reg_document.h"

#include <cstdio>

#include "base/text.h"
#include "platform/posix/text_lines.h"

namespace vendrel::platform {
namespace {

constexpr std::string_view kSignature = "REGEDIT4";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool KeyIsWithin(std::string_view path, std::string_view key) {
  return path.size() > key.size() && path[key.size()] == '\\' &&
         EqualsIgnoringCase(path.substr(0, key.size()), key);
}

// Reads the text between double quotes at text[*pos], undoing the \\ and \"
// escapes, into out unless it is null; *pos ends after the closing quote.
void ReadQuoted(std::string_view text, std::size_t* pos, std::size_t line, std::string* out) {
  std::size_t i = *pos + 1;
  for (;;) {
    if (i >= text.size()) throw RegParseError(line, "a quoted text has no closing quote");
    char c = text[i++];
    if (c == '"') break;
    if (c == '\\') {
      if (i >= text.size() || (text[i] != '\\' && text[i] != '"')) {
        throw RegParseError(line, "a quoted text holds an unknown escape");
      }
      c = text[i++];
    }
    if (out != nullptr) *out += c;
  }
  *pos = i;
}

// Reads comma-separated hexadecimal bytes into out unless it is null.
void ReadHexBytes(std::string_view text, std::size_t line, std::string* out) {
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && IsBlank(text[i])) ++i;
  };
  skip_blanks();
  if (i == text.size()) return;
  for (;;) {
    skip_blanks();
    int high = i < text.size() ? HexDigit(text[i]) : -1;
    if (high < 0) throw RegParseError(line, "hexadecimal data is malformed");
    ++i;
    int value = high;
    if (i < text.size() && HexDigit(text[i]) >= 0) value = value * 16 + HexDigit(text[i++]);
    if (out != nullptr) *out += static_cast<char>(value);
    skip_blanks();
    if (i == text.size()) return;
    if (text[i] != ',') throw RegParseError(line, "hexadecimal data is malformed");
    ++i;
  }
}

// Reads a value's data; with keep false it only checks it, building nothing.
std::optional<RegValue> ParseData(std::string_view data, std::size_t line, bool keep = true) {
  data = TrimBlanks(data);
  if (data == "-") return std::nullopt;
  RegValue value;
  std::string* sink = keep ? &value.data : nullptr;
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    value.type = 1;
    ReadQuoted(data, &pos, line, sink);
    if (keep) value.data += '\0';
    if (!TrimBlanks(data.substr(pos)).empty()) {
      throw RegParseError(line, "text follows a quoted value");
    }
    return value;
  }
  if (data.substr(0, 6) == "dword:") {
    std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) throw RegParseError(line, "a dword is malformed");
    std::uint32_t number = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) throw RegParseError(line, "a dword is malformed");
      number = number * 16 + static_cast<std::uint32_t>(d);
    }
    value.type = 4;
    for (int b = 0; b < 4; ++b) value.data += static_cast<char>((number >> (8 * b)) & 0xFF);
    return value;
  }
  if (data.substr(0, 4) == "hex:") {
    value.type = 3;
    ReadHexBytes(data.substr(4), line, sink);
    return value;
  }
  if (data.substr(0, 4) == "hex(") {
    std::size_t close = data.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12) {
      throw RegParseError(line, "a value type is malformed");
    }
    std::uint32_t type = 0;
    for (char c : data.substr(4, close - 4)) {
      int d = HexDigit(c);
      if (d < 0) throw RegParseError(line, "a value type is malformed");
      type = type * 16 + static_cast<std::uint32_t>(d);
    }
    value.type = type;
    ReadHexBytes(data.substr(close + 2), line, sink);
    return value;
  }
  throw RegParseError(line, "a value's data is malformed");
}

// A value line with the lines it goes on over (those before end in a
// backslash) joined into one; *line_number ends at the last of them.
std::string_view JoinContinuations(LineCursor& lines, std::string_view content,
                                   std::size_t* line_number, std::string* joined) {
  std::string_view physical;
  while (!content.empty() && content.back() == '\\' && lines.Next(&physical)) {
    if (joined->empty()) *joined = std::string(content);
    joined->pop_back();
    ++*line_number;
    *joined += TrimBlanks(WithoutLineEnd(physical));
    content = *joined;
  }
  return content;
}

struct ValueText {
  std::string name;
  std::optional<RegValue> value;  // empty for a "=-" deletion line
};

// Reads a joined value line; with keep false it only checks it, building
// neither the name nor the data.
ValueText ReadValueLine(std::string_view whole, std::size_t line_number, bool keep) {
  ValueText read;
  std::size_t pos = 0;
  if (whole.front() == '@') {
    pos = 1;
  } else {
    ReadQuoted(whole, &pos, line_number, keep ? &read.name : nullptr);
  }
  std::string_view rest = TrimBlanks(whole.substr(pos));
  if (rest.empty() || rest.front() != '=') {
    throw RegParseError(line_number, "a value line has no '='");
  }
  read.value = ParseData(rest.substr(1), line_number, keep);
  return read;
}

void AppendHex(std::string& out, std::string_view bytes) {
  char digits[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
    if (i > 0) out += ',';
    out += digits;
  }
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool PlainText(const RegValue& value) {
  if (value.type != 1 || value.data.empty() || value.data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
    auto c = static_cast<unsigned char>(value.data[i]);
    if (c < 32 || c == 127) return false;
  }
  return true;
}

}  // namespace

RegDocument::RegDocument() : text_(std::string(kSignature) + "\r\n") {}

RegDocument::KeyIndex RegDocument::Index(std::string_view text, std::string_view key) {
  KeyIndex index;
  index.key = std::string(key);
  LineCursor lines(text);
  std::string_view physical;
  if (!lines.Next(&physical) || TrimBlanks(WithoutLineEnd(physical)) != kSignature) {
    throw RegParseError(1, "the first line is not REGEDIT4");
  }
  bool have_section = false;
  bool in_key = false;
  for (std::size_t line_number = 2; lines.Next(&physical); ++line_number) {
    const std::size_t begin = lines.offset() - physical.size();
    std::string_view content = TrimBlanks(WithoutLineEnd(physical));
    if (content.empty() || content.front() == ';') continue;
    if (content.front() == '[') {
      if (content.back() != ']' || content.size() < 3 || content[1] == '-') {
        throw RegParseError(line_number, "a key line is malformed");
      }
      std::string_view section = content.substr(1, content.size() - 2);
      have_section = true;
      in_key = !key.empty() && EqualsIgnoringCase(section, key);
      if (in_key) {
        index.has_section = true;
        index.insert_at = lines.offset();
      }
      index.exists = index.exists || in_key || (!key.empty() && KeyIsWithin(section, key));
      continue;
    }
    if (content.front() != '"' && content.front() != '@') {
      throw RegParseError(line_number, "a line is neither a key nor a value");
    }
    if (!have_section) throw RegParseError(line_number, "a value stands before any key");
    std::string joined;
    std::string_view whole = JoinContinuations(lines, content, &line_number, &joined);
    // Only the key's own values are read; the rest are checked, not built.
    ValueText read = ReadValueLine(whole, line_number, in_key);
    if (in_key) {
      index.values.push_back(ValueLine{begin, lines.offset(), std::move(read.name)});
      index.insert_at = lines.offset();
    }
  }
  return index;
}

RegDocument RegDocument::Parse(std::string text, std::string_view focus_key) {
  RegDocument doc;
  doc.index_ = Index(text, focus_key);
  doc.index_valid_ = true;
  doc.text_ = std::move(text);
  doc.line_end_ = std::string(FirstLineEnd(doc.text_));
  return doc;
}

const RegDocument::KeyIndex& RegDocument::IndexOf(std::string_view key_path) const {
  if (!index_valid_ || !EqualsIgnoringCase(index_.key, key_path)) {
    index_ = Index(text_, key_path);
    index_valid_ = true;
  }
  return index_;
}

bool RegDocument::HasKey(std::string_view key_path) const { return IndexOf(key_path).exists; }

std::optional<RegValue> RegDocument::Find(std::string_view key_path, std::string_view name) const {
  std::map<std::string, RegValue> values = ValuesOf(key_path);
  auto found = values.find(UpperCase(std::string(name)));
  if (found == values.end()) return std::nullopt;
  return found->second;
}

std::map<std::string, RegValue> RegDocument::ValuesOf(std::string_view key_path) const {
  std::map<std::string, RegValue> values;
  for (const ValueLine& line : IndexOf(key_path).values) {
    // The line was checked when indexed; read again, it gives its data.
    LineCursor lines(std::string_view(text_).substr(line.begin, line.end - line.begin));
    std::string_view first;
    lines.Next(&first);
    std::size_t line_number = 0;
    std::string joined;
    ValueText read = ReadValueLine(
        JoinContinuations(lines, TrimBlanks(WithoutLineEnd(first)), &line_number, &joined),
        line_number, /*keep=*/true);
    const std::optional<RegValue>& value = read.value;
    std::string upper = UpperCase(line.name);
    if (value) {
      values[upper] = *value;  // a later line overrides an earlier one
    } else {
      values.erase(upper);
    }
  }
  return values;
}

bool RegDocument::CanHoldName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string RegDocument::FormatValueLine(std::string_view name, const RegValue& value) {
  std::string out = name.empty() ? std::string("@") : Quote(name);
  out += '=';
  if (PlainText(value)) {
    out += Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
  } else if (value.type == 4 && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int b = 3; b >= 0; --b) number = number * 256 + static_cast<unsigned char>(value.data[b]);
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", number);
    out += digits;
  } else if (value.type == 3) {
    out += "hex:";
    AppendHex(out, value.data);
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    out += prefix;
    AppendHex(out, value.data);
  }
  return out;
}

void RegDocument::Set(std::string_view key_path, std::string_view name, const RegValue& value) {
  const KeyIndex& index = IndexOf(key_path);
  std::size_t from = 0;
  std::size_t to = 0;
  std::string insert;
  const ValueLine* last = nullptr;
  for (const ValueLine& line : index.values) {
    if (EqualsIgnoringCase(line.name, name)) last = &line;
  }
  if (last != nullptr) {
    // The value keeps the spelling of its name and its line end.
    std::string_view old(text_.data() + last->begin, last->end - last->begin);
    std::string_view end = old.substr(WithoutLineEnd(old).size());
    from = last->begin;
    to = last->end;
    insert = FormatValueLine(last->name, value) + std::string(end);
  } else {
    std::string line = FormatValueLine(name, value) + line_end_;
    if (index.has_section) {
      from = to = index.insert_at;
    } else {
      // The key exists through a sub-key only: it gets a section of its own.
      from = to = text_.size();
      line = line_end_ + "[" + std::string(key_path) + "]" + line_end_ + line;
    }
    std::string_view before(text_.data(), from);
    if (!before.empty() && WithoutLineEnd(before).size() == before.size()) line = line_end_ + line;
    insert = std::move(line);
  }
  text_.replace(from, to - from, insert);
  index_valid_ = false;
}

}  // namespace vendrel::platform
