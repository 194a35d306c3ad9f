// An INI file edited the way the platform's profile writer edits it, except
// that every line the change does not touch keeps its bytes: blanks, blank
// lines, comments, a byte-order mark and the line ends. Each edit is one
// pass over the text and one splice in place, with nothing kept per line.
#ifndef VENDREL_PLATFORM_POSIX_PROFILE_INI_DOCUMENT_H_
#define VENDREL_PLATFORM_POSIX_PROFILE_INI_DOCUMENT_H_

#include <optional>
#include <string>
#include <string_view>

namespace vendrel::platform {

// Where an entry stands: its section and its key.
struct IniPlace {
  std::string_view section;
  std::string_view key;
};

// Sets the first matching key of the first matching section, or adds the
// key after that section's last non-blank line, or adds the section at the
// end. Section and key names match without regard to case or to blanks
// around them. New lines take the line end of the file's first line.
void IniWrite(std::string* text, const IniPlace& place, std::string_view value);

// Removes the first matching key, searching the matching sections in file
// order; false, and the text as it was, when there is none.
bool IniDelete(std::string* text, const IniPlace& place);

// Text the profile functions would read as UTF-16, which is never edited as
// single bytes: a byte-order mark (FF FE or FE FF), or, without one, a zero
// in every other byte. Returns which form it is, in words.
std::optional<std::string> Utf16Kind(std::string_view text);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_PROFILE_INI_DOCUMENT_H_
