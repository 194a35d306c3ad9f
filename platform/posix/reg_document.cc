#include "platform/posix/reg_document.h"

#include <cstdio>
#include <type_traits>

#include "base/text.h"
#include "platform/posix/text_lines.h"

namespace vendrel::platform {
namespace {

constexpr std::string_view kSignature = "REGEDIT4";
// Room left below 4 GiB for the values a run adds.
constexpr std::size_t kLargestStore = 0xFFFFFFFFu - (1u << 20);

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

// Reads a value's data into *value, or only checks it when value is null.
// Returns false for the "-" of a deletion line.
bool ParseData(std::string_view data, std::size_t line, RegValue* value) {
  data = TrimBlanks(data);
  if (data == "-") return false;
  std::string* sink = value != nullptr ? &value->data : nullptr;
  auto set_type = [value](std::uint32_t type) {
    if (value != nullptr) value->type = type;
  };
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    set_type(1);
    ReadQuoted(data, &pos, line, sink);
    if (sink != nullptr) *sink += '\0';
    if (!TrimBlanks(data.substr(pos)).empty()) {
      throw RegParseError(line, "text follows a quoted value");
    }
    return true;
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
    set_type(4);
    if (sink != nullptr) {
      for (int b = 0; b < 4; ++b) *sink += static_cast<char>((number >> (8 * b)) & 0xFF);
    }
    return true;
  }
  if (data.substr(0, 4) == "hex:") {
    set_type(3);
    ReadHexBytes(data.substr(4), line, sink);
    return true;
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
    set_type(type);
    ReadHexBytes(data.substr(close + 2), line, sink);
    return true;
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

// Reads a joined value line into name and value (none for a deletion
// line), or only checks it when both are null.
void ReadValueLine(std::string_view whole, std::size_t line_number, std::string* name,
                   std::optional<RegValue>* value) {
  std::size_t pos = 0;
  if (whole.front() == '@') {
    pos = 1;
  } else {
    ReadQuoted(whole, &pos, line_number, name);
  }
  std::string_view rest = TrimBlanks(whole.substr(pos));
  if (rest.empty() || rest.front() != '=') {
    throw RegParseError(line_number, "a value line has no '='");
  }
  if (value == nullptr) {
    ParseData(rest.substr(1), line_number, nullptr);
    return;
  }
  RegValue data;
  if (ParseData(rest.substr(1), line_number, &data)) *value = std::move(data);
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
  if (text.size() > kLargestStore) throw RegParseError(1, "the store is 4 GiB or larger");
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
    const std::size_t name_at = static_cast<std::size_t>(content.data() - text.data());
    std::string joined;
    std::string_view whole = JoinContinuations(lines, content, &line_number, &joined);
    // Checked, not built: the key's values are read when asked for.
    ReadValueLine(whole, line_number, nullptr, nullptr);
    if (in_key) {
      index.values.push_back(ValueLine{static_cast<Offset>(begin),
                                       static_cast<Offset>(lines.offset()),
                                       static_cast<Offset>(name_at)});
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

RegDocument RegDocument::Same(std::string text, const RegDocument& same) {
  RegDocument doc;
  doc.text_ = std::move(text);
  doc.line_end_ = same.line_end_;
  doc.index_ = same.index_;
  doc.index_valid_ = same.index_valid_;
  return doc;
}

const RegDocument::KeyIndex& RegDocument::IndexOf(std::string_view key_path) const {
  if (!index_valid_ || !EqualsIgnoringCase(index_.key, key_path)) {
    index_ = Index(text_, key_path);
    index_valid_ = true;
  }
  return index_;
}

bool RegDocument::IndexedFor(std::string_view key_path) const {
  return index_valid_ && EqualsIgnoringCase(index_.key, key_path);
}

bool RegDocument::HasKey(std::string_view key_path) const { return IndexOf(key_path).exists; }

RegDocument::ValueText RegDocument::Read(const ValueLine& line) const {
  // The line was checked when indexed; read again, it gives its data.
  LineCursor lines(std::string_view(text_).substr(line.begin, line.end - line.begin));
  std::string_view first;
  lines.Next(&first);
  std::size_t line_number = 0;
  std::string joined;
  ValueText read;
  ReadValueLine(JoinContinuations(lines, TrimBlanks(WithoutLineEnd(first)), &line_number, &joined),
                line_number, &read.name, &read.value);
  return read;
}

bool RegDocument::NameEquals(const ValueLine& line, std::string_view wanted) const {
  std::size_t at = line.name_at;
  if (text_[at] == '@') return wanted.empty();
  std::size_t matched = 0;
  for (++at; at < line.end; ++at) {
    char c = text_[at];
    if (c == '"') return matched == wanted.size();
    if (c == '\\') c = text_[++at];
    // A name that goes on over a continuation line is read joined.
    if (c == '\r' || c == '\n') return EqualsIgnoringCase(Read(line).name, wanted);
    if (matched == wanted.size() ||
        !EqualsIgnoringCase(std::string_view(&c, 1), wanted.substr(matched, 1))) {
      return false;
    }
    ++matched;
  }
  return false;
}

const RegDocument::ValueLine* RegDocument::LastLineOf(const KeyIndex& index,
                                                      std::string_view name) const {
  for (auto line = index.values.rbegin(); line != index.values.rend(); ++line) {
    if (NameEquals(*line, name)) return &*line;
  }
  return nullptr;
}

std::optional<RegValue> RegDocument::Find(std::string_view key_path, std::string_view name) const {
  // The last line of the name decides: a later line overrides an earlier
  // one, and a deletion line removes the value.
  const ValueLine* line = LastLineOf(IndexOf(key_path), name);
  if (line == nullptr) return std::nullopt;
  return Read(*line).value;
}

std::map<std::string, RegValue> RegDocument::ValuesOf(std::string_view key_path) const {
  std::map<std::string, RegValue> values;
  for (const ValueLine& line : IndexOf(key_path).values) {
    ValueText read = Read(line);
    std::string upper = UpperCase(read.name);
    if (read.value) {
      values[upper] = *read.value;
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
  IndexOf(key_path);
  KeyIndex& index = index_;
  if (const ValueLine* found = LastLineOf(index, name)) {
    // The value keeps the spelling of its name and its line end.
    ValueLine& line = index.values[static_cast<std::size_t>(found - index.values.data())];
    std::string_view old(text_.data() + line.begin, line.end - line.begin);
    std::string_view end = old.substr(WithoutLineEnd(old).size());
    std::string replacement = FormatValueLine(Read(line).name, value) + std::string(end);
    text_.replace(line.begin, line.end - line.begin, replacement);
    // The lines behind it move by the change in length.
    const Offset old_end = line.end;
    line.name_at = line.begin;
    line.end = static_cast<Offset>(line.begin + replacement.size());
    auto shift = [&](auto& offset) {
      offset = static_cast<std::remove_reference_t<decltype(offset)>>(offset + line.end - old_end);
    };
    for (ValueLine* later = &line + 1; later != index.values.data() + index.values.size();
         ++later) {
      shift(later->begin);
      shift(later->end);
      shift(later->name_at);
    }
    if (index.insert_at >= old_end) shift(index.insert_at);
    return;
  }
  std::string line = FormatValueLine(name, value);
  std::string insert = line + line_end_;
  std::size_t at = index.insert_at;
  if (!index.has_section) {
    // The key exists through a sub-key only: it gets a section of its own.
    at = text_.size();
    insert = line_end_ + "[" + std::string(key_path) + "]" + line_end_ + insert;
  }
  std::string_view before(text_.data(), at);
  if (!before.empty() && WithoutLineEnd(before).size() == before.size())
    insert = line_end_ + insert;
  text_.insert(at, insert);
  // New lines go after every value of the key, so the index only grows.
  const std::size_t line_at = at + insert.size() - line.size() - line_end_.size();
  index.values.push_back(ValueLine{static_cast<Offset>(line_at),
                                   static_cast<Offset>(at + insert.size()),
                                   static_cast<Offset>(line_at)});
  index.has_section = true;
  index.insert_at = at + insert.size();
}

}  // namespace vendrel::platform
