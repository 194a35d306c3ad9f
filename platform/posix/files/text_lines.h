// Reading a text file line by line, each line with its own line end (CR LF,
// LF or a lone CR), so that a file can be put back together byte for byte.
#ifndef VENDREL_PLATFORM_POSIX_FILES_TEXT_LINES_H_
#define VENDREL_PLATFORM_POSIX_FILES_TEXT_LINES_H_

#include <string_view>

namespace vendrel::platform {

// Where the next CR or LF stands, or npos. A plain loop: find_first_of with
// a set of two calls memchr on the set for every byte of the text.
inline std::size_t FindLineBreak(std::string_view text, std::size_t from) {
  const char* data = text.data();
  for (std::size_t i = from; i < text.size(); ++i) {
    if (data[i] == '\n' || data[i] == '\r') return i;
  }
  return std::string_view::npos;
}

// Hands out the lines of a text one by one, each with its line end, without
// keeping a list of them.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  bool Next(std::string_view* line) {
    if (at_ >= text_.size()) return false;
    std::size_t end = FindLineBreak(text_, at_);
    if (end == std::string_view::npos) {
      end = text_.size();
    } else if (text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n') {
      end += 2;
    } else {
      end += 1;
    }
    *line = text_.substr(at_, end - at_);
    at_ = end;
    return true;
  }

  // Where the next line begins.
  std::size_t offset() const { return at_; }
  // Makes the next line the one that begins at offset.
  void Seek(std::size_t offset) { at_ = offset; }
  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// The line without its line end.
inline std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// The line end of the text's first line: the one new lines take. CR LF when
// the text has none.
inline std::string_view FirstLineEnd(std::string_view text) {
  LineCursor cursor(text);
  std::string_view first;
  if (!cursor.Next(&first)) return "\r\n";
  std::string_view end = first.substr(WithoutLineEnd(first).size());
  return end.empty() ? std::string_view("\r\n") : end;
}

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_TEXT_LINES_H_
