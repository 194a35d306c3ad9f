// Splitting a text file into its lines, each with its own line end (CR LF,
// LF or a lone CR), so that a file can be put back together byte for byte.
#ifndef VENDREL_PLATFORM_POSIX_TEXT_LINES_H_
#define VENDREL_PLATFORM_POSIX_TEXT_LINES_H_

#include <string_view>
#include <vector>

namespace vendrel::platform {

inline std::vector<std::string_view> SplitKeepingLineEnds(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      end = text.size();
    } else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      end += 2;
    } else {
      end += 1;
    }
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// The line without its line end.
inline std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_TEXT_LINES_H_
