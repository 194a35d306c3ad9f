#include "platform/posix/ini_document.h"

#include "platform/posix/text_lines.h"
#include "platform/text.h"

namespace vendrel::platform {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Blanks as the profile functions skip them, Ctrl-Z included.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool IniDocument::IsUtf16(std::string_view text) {
  return text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE';
}

IniDocument::Line IniDocument::Classify(std::string raw, bool first) {
  Line line;
  line.raw = std::move(raw);
  std::string_view content = WithoutLineEnd(line.raw);
  if (first && content.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    content.remove_prefix(kUtf8Mark.size());
  }
  content = TrimBlanks(content);
  if (content.empty() || content.front() == ';') return line;
  if (content.front() == '[') {
    std::size_t close = content.rfind(']');
    if (close != std::string_view::npos) {
      line.is_section = true;
      line.name = std::string(TrimBlanks(content.substr(1, close - 1)));
      return line;
    }
  }
  line.is_key = true;
  line.name = std::string(TrimBlanks(content.substr(0, content.find('='))));
  return line;
}

IniDocument::IniDocument(std::string_view text) {
  for (std::string_view line : SplitKeepingLineEnds(text)) {
    lines_.push_back(Classify(std::string(line), lines_.empty()));
  }
  if (!lines_.empty()) {
    std::string_view first = lines_.front().raw;
    std::string_view end = first.substr(WithoutLineEnd(first).size());
    if (!end.empty()) line_end_ = std::string(end);
  }
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line& line : lines_) out += line.raw;
  return out;
}

void IniDocument::EndLastLine() {
  if (lines_.empty()) return;
  std::string& raw = lines_.back().raw;
  if (WithoutLineEnd(raw).size() == raw.size()) raw += line_end_;
}

void IniDocument::Write(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view wanted_section = TrimBlanks(section);
  const std::string_view wanted_key = TrimBlanks(key);
  // Lines before the first header form the nameless section.
  bool found = wanted_section.empty();
  bool in_section = found;
  std::size_t insert_at = 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    if (line.is_section) {
      if (in_section) break;  // only the first matching section is written
      in_section = EqualsIgnoringCase(line.name, wanted_section);
      if (in_section) {
        found = true;
        insert_at = i + 1;
      }
      continue;
    }
    if (!in_section) continue;
    if (!TrimBlanks(WithoutLineEnd(line.raw)).empty()) insert_at = i + 1;
    if (line.is_key && EqualsIgnoringCase(line.name, wanted_key)) {
      ReplaceValue(line, value);
      return;
    }
  }
  Line entry;
  entry.is_key = true;
  entry.name = std::string(wanted_key);
  entry.raw = std::string(key) + "=" + std::string(value) + line_end_;
  if (!found) {
    EndLastLine();
    Line head;
    head.is_section = true;
    head.name = std::string(wanted_section);
    head.raw = "[" + std::string(section) + "]" + line_end_;
    lines_.push_back(std::move(head));
    insert_at = lines_.size();
  }
  if (insert_at == lines_.size()) EndLastLine();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at), std::move(entry));
}

// The key keeps its own spelling and the blanks around its "="; only the
// value after them changes.
void IniDocument::ReplaceValue(Line& line, std::string_view value) {
  std::string_view content = WithoutLineEnd(line.raw);
  std::string end(std::string_view(line.raw).substr(content.size()));
  std::size_t equals = content.find('=');
  std::string kept;
  if (equals == std::string_view::npos) {
    kept = std::string(content) + "=";
  } else {
    std::size_t value_at = equals + 1;
    while (value_at < content.size() && (content[value_at] == ' ' || content[value_at] == '\t')) {
      ++value_at;
    }
    kept = std::string(content.substr(0, value_at));
  }
  line.raw = kept + std::string(value) + end;
}

bool IniDocument::Delete(std::string_view section, std::string_view key) {
  const std::string_view wanted_section = TrimBlanks(section);
  const std::string_view wanted_key = TrimBlanks(key);
  bool in_section = wanted_section.empty();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.is_section) {
      in_section = EqualsIgnoringCase(line.name, wanted_section);
      continue;
    }
    if (in_section && line.is_key && EqualsIgnoringCase(line.name, wanted_key)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

}  // namespace vendrel::platform
