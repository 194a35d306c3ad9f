// One value line of a REGEDIT4 store: the value it holds, read with its
// continuation lines joined, and the line that writes a value back.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_REG_VALUE_LINE_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_REG_VALUE_LINE_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vendrel::platform {

class LineCursor;

struct RegValue {
  std::uint32_t type = 0;
  std::string data;  // raw bytes, a REG_SZ's terminating NUL included

  bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};

// A store that does not follow the format, with the line where it stops.
class RegParseError : public std::runtime_error {
 public:
  RegParseError(std::size_t line, const std::string& what)
      : std::runtime_error(what), line_(line) {}
  std::size_t line() const { return line_; }

 private:
  std::size_t line_;
};

std::string_view TrimBlanks(std::string_view text);

// A value line with the lines it goes on over (those before end in a
// backslash) joined into one; *line_number ends at the last of them.
std::string_view JoinContinuations(LineCursor& lines, std::string_view content,
                                   std::size_t* line_number, std::string* joined);

// Reads a joined value line into name and value (none for a deletion
// line), or only checks it when both are null. Throws RegParseError.
void ReadValueLine(std::string_view whole, std::size_t line_number, std::string* name,
                   std::optional<RegValue>* value);

// One value line in the store's own format, without a line end.
std::string FormatValueLine(std::string_view name, const RegValue& value);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_REG_VALUE_LINE_H_
