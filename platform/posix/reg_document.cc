#include "platform/posix/reg_document.h"

#include <cstdio>

#include "platform/posix/text_lines.h"
#include "platform/text.h"

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
// escapes; *pos ends after the closing quote.
std::string ReadQuoted(std::string_view text, std::size_t* pos, std::size_t line) {
  std::string out;
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
    out += c;
  }
  *pos = i;
  return out;
}

std::string ReadHexBytes(std::string_view text, std::size_t line) {
  std::string out;
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && IsBlank(text[i])) ++i;
  };
  skip_blanks();
  if (i == text.size()) return out;
  for (;;) {
    skip_blanks();
    int high = i < text.size() ? HexDigit(text[i]) : -1;
    if (high < 0) throw RegParseError(line, "hexadecimal data is malformed");
    ++i;
    int value = high;
    if (i < text.size() && HexDigit(text[i]) >= 0) value = value * 16 + HexDigit(text[i++]);
    out += static_cast<char>(value);
    skip_blanks();
    if (i == text.size()) return out;
    if (text[i] != ',') throw RegParseError(line, "hexadecimal data is malformed");
    ++i;
  }
}

std::optional<RegValue> ParseData(std::string_view data, std::size_t line) {
  data = TrimBlanks(data);
  if (data == "-") return std::nullopt;
  RegValue value;
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    value.type = 1;
    value.data = ReadQuoted(data, &pos, line);
    value.data += '\0';
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
    value.data = ReadHexBytes(data.substr(4), line);
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
    value.data = ReadHexBytes(data.substr(close + 2), line);
    return value;
  }
  throw RegParseError(line, "a value's data is malformed");
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

RegDocument::RegDocument() {
  Line first;
  first.raw = std::string(kSignature) + line_end_;
  lines_.push_back(first);
}

RegDocument RegDocument::Parse(std::string_view text) {
  std::vector<std::string_view> physical = SplitKeepingLineEnds(text);

  RegDocument doc;
  doc.lines_.clear();
  if (physical.empty() || TrimBlanks(WithoutLineEnd(physical[0])) != kSignature) {
    throw RegParseError(1, "the first line is not REGEDIT4");
  }
  std::string_view first_end = LineEndOf(std::string(physical[0]));
  if (!first_end.empty()) doc.line_end_ = std::string(first_end);

  std::string current_key;
  for (std::size_t i = 0; i < physical.size(); ++i) {
    const std::size_t line_number = i + 1;
    Line line;
    line.raw = std::string(physical[i]);
    std::string_view content = TrimBlanks(WithoutLineEnd(physical[i]));
    if (i == 0 || content.empty() || content.front() == ';') {
      doc.lines_.push_back(std::move(line));
      continue;
    }
    if (content.front() == '[') {
      if (content.back() != ']' || content.size() < 3 || content[1] == '-') {
        throw RegParseError(line_number, "a key line is malformed");
      }
      current_key = std::string(content.substr(1, content.size() - 2));
      line.kind = LineKind::kHeader;
      line.key = current_key;
      doc.lines_.push_back(std::move(line));
      continue;
    }
    if (content.front() != '"' && content.front() != '@') {
      throw RegParseError(line_number, "a line is neither a key nor a value");
    }
    if (current_key.empty()) throw RegParseError(line_number, "a value stands before any key");
    // A value's data may go on over lines that end in a backslash.
    std::string joined(content);
    while (!joined.empty() && joined.back() == '\\' && i + 1 < physical.size()) {
      joined.pop_back();
      ++i;
      line.raw += physical[i];
      joined += TrimBlanks(WithoutLineEnd(physical[i]));
    }
    std::size_t pos = 0;
    if (joined.front() == '@') {
      pos = 1;
    } else {
      line.name = ReadQuoted(joined, &pos, line_number);
    }
    std::string_view rest = TrimBlanks(std::string_view(joined).substr(pos));
    if (rest.empty() || rest.front() != '=') {
      throw RegParseError(line_number, "a value line has no '='");
    }
    line.value = ParseData(rest.substr(1), line_number);
    line.kind = LineKind::kValue;
    line.key = current_key;
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

std::string RegDocument::Serialize() const {
  std::string out;
  for (const Line& line : lines_) out += line.raw;
  return out;
}

std::string_view RegDocument::LineEndOf(const std::string& raw) {
  std::string_view view(raw);
  return view.substr(WithoutLineEnd(view).size());
}

bool RegDocument::HasKey(std::string_view key_path) const {
  for (const Line& line : lines_) {
    if (line.kind != LineKind::kHeader) continue;
    if (EqualsIgnoringCase(line.key, key_path) || KeyIsWithin(line.key, key_path)) return true;
  }
  return false;
}

std::optional<RegValue> RegDocument::Find(std::string_view key_path, std::string_view name) const {
  std::optional<RegValue> found;
  for (const Line& line : lines_) {
    if (line.kind == LineKind::kValue && EqualsIgnoringCase(line.name, name) &&
        EqualsIgnoringCase(line.key, key_path)) {
      found = line.value;  // a later line overrides an earlier one
    }
  }
  return found;
}

std::map<std::string, RegValue> RegDocument::ValuesOf(std::string_view key_path) const {
  std::map<std::string, RegValue> values;
  for (const Line& line : lines_) {
    if (line.kind != LineKind::kValue || !EqualsIgnoringCase(line.key, key_path)) continue;
    std::string name = UpperCase(line.name);
    if (line.value) {
      values[name] = *line.value;
    } else {
      values.erase(name);
    }
  }
  return values;
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
  Line line;
  line.kind = LineKind::kValue;
  line.key = std::string(key_path);
  line.name = std::string(name);
  line.value = value;
  std::string text = FormatValueLine(name, value);

  for (std::size_t i = lines_.size(); i-- > 0;) {
    Line& old = lines_[i];
    if (old.kind == LineKind::kValue && EqualsIgnoringCase(old.key, key_path) &&
        EqualsIgnoringCase(old.name, name)) {
      std::string_view end = LineEndOf(old.raw);
      // A value's own name keeps the spelling it has in the file.
      line.name = old.name;
      line.key = old.key;
      line.raw = FormatValueLine(old.name, value) + std::string(end);
      old = std::move(line);
      return;
    }
  }

  // A new value goes after the last value of the key's last section.
  std::optional<std::size_t> insert_at;
  bool in_section = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kHeader) {
      in_section = EqualsIgnoringCase(lines_[i].key, key_path);
      if (in_section) {
        insert_at = i + 1;
        line.key = lines_[i].key;
      }
    } else if (in_section && lines_[i].kind == LineKind::kValue) {
      insert_at = i + 1;
    }
  }
  auto end_previous_line = [this](std::size_t before) {
    if (before > 0 && LineEndOf(lines_[before - 1].raw).empty())
      lines_[before - 1].raw += line_end_;
  };
  if (!insert_at) {
    // The key exists through a sub-key only: it gets a section of its own.
    end_previous_line(lines_.size());
    Line blank;
    blank.raw = line_end_;
    lines_.push_back(blank);
    Line header;
    header.kind = LineKind::kHeader;
    header.key = std::string(key_path);
    header.raw = "[" + header.key + "]" + line_end_;
    lines_.push_back(header);
    insert_at = lines_.size();
  }
  end_previous_line(*insert_at);
  line.raw = text + line_end_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*insert_at), std::move(line));
}

}  // namespace vendrel::platform
