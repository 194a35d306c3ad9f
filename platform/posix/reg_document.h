// A registry store kept as a REGEDIT4 text file. Editing a value rewrites
// that value's line alone; every other byte of the file stays as it was.
#ifndef VENDREL_PLATFORM_POSIX_REG_DOCUMENT_H_
#define VENDREL_PLATFORM_POSIX_REG_DOCUMENT_H_

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vendrel::platform {

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

class RegDocument {
 public:
  // Throws RegParseError.
  static RegDocument Parse(std::string_view text);
  // An empty store, as a new file would hold it.
  RegDocument();

  std::string Serialize() const;

  // Key paths begin with the hive's full name ("HKEY_LOCAL_MACHINE\...").
  // A key exists when it has a section of its own or a sub-key does.
  bool HasKey(std::string_view key_path) const;
  std::optional<RegValue> Find(std::string_view key_path, std::string_view name) const;
  // All values of one key, by upper-cased name.
  std::map<std::string, RegValue> ValuesOf(std::string_view key_path) const;
  void Set(std::string_view key_path, std::string_view name, const RegValue& value);

  // One value line in the store's own format, without a line end.
  static std::string FormatValueLine(std::string_view name, const RegValue& value);

 private:
  enum class LineKind { kOther, kHeader, kValue };
  struct Line {
    LineKind kind = LineKind::kOther;
    std::string raw;  // exactly as in the file, line ends included
    std::string key;  // the section it stands in (or names)
    std::string name;
    std::optional<RegValue> value;  // empty for a "=-" deletion line
  };

  static std::string_view LineEndOf(const std::string& raw);

  std::vector<Line> lines_;
  std::string line_end_ = "\r\n";
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REG_DOCUMENT_H_
