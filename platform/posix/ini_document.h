// An INI file edited the way the platform's profile writer edits it, except
// that every line the change does not touch keeps its bytes: blanks, blank
// lines, comments, a byte-order mark and the line ends.
#ifndef VENDREL_PLATFORM_POSIX_INI_DOCUMENT_H_
#define VENDREL_PLATFORM_POSIX_INI_DOCUMENT_H_

#include <string>
#include <string_view>
#include <vector>

namespace vendrel::platform {

class IniDocument {
 public:
  explicit IniDocument(std::string_view text);

  std::string Serialize() const;

  // Sets the first matching key of the first matching section, or adds the
  // key after that section's last non-blank line, or adds the section at
  // the end. Section and key names match without regard to case or to
  // blanks around them.
  void Write(std::string_view section, std::string_view key, std::string_view value);

  // Removes the first matching key, searching the matching sections in file
  // order. False when there was none.
  bool Delete(std::string_view section, std::string_view key);

  // A UTF-16 file starts with FF FE; it is never edited as single bytes.
  static bool IsUtf16(std::string_view text);

 private:
  struct Line {
    std::string raw;  // line end included
    bool is_section = false;
    bool is_key = false;
    std::string name;  // the section's or the key's name, trimmed
  };

  static Line Classify(std::string raw, bool first);
  static void ReplaceValue(Line& line, std::string_view value);
  void EndLastLine();

  std::vector<Line> lines_;
  std::string line_end_ = "\r\n";
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_INI_DOCUMENT_H_
