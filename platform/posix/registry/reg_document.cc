#include "platform/posix/registry/reg_document.h"

#include <type_traits>

#include "base/text.h"
#include "platform/posix/files/text_lines.h"

namespace vendrel::platform {
namespace {

constexpr std::string_view kSignature = "REGEDIT4";
// Room left below 4 GiB for the values a run adds.
constexpr std::size_t kLargestStore = 0xFFFFFFFFu - (1u << 20);

bool KeyIsWithin(std::string_view path, std::string_view key) {
  return path.size() > key.size() && path[key.size()] == '\\' &&
         EqualsIgnoringCase(path.substr(0, key.size()), key);
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
