#include "platform/posix/registry/reg_value_line.h"

#include <cstdio>

#include "platform/posix/files/text_lines.h"

namespace vendrel::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
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

std::string FormatValueLine(std::string_view name, const RegValue& value) {
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

}  // namespace vendrel::platform
