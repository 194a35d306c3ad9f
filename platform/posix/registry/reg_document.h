// A registry store kept as a REGEDIT4 text file. Editing a value rewrites
// that value's line alone; every other byte of the file stays as it was.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_REG_DOCUMENT_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_REG_DOCUMENT_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry/reg_value_line.h"

namespace vendrel::platform {

// The store's text, validated as a whole when parsed, and edited by
// splicing. Only one key is indexed, by where its value lines stand in the
// text: a value is read when asked for, nothing is kept per value but its
// place, and an edit keeps the index in step, so a store of a million
// values costs little more than its own bytes.
class RegDocument {
 public:
  // Throws RegParseError. The focus key is indexed while the text is
  // validated, so that the queries and edits of that key need no second
  // pass over the text.
  static RegDocument Parse(std::string text, std::string_view focus_key = {});
  // The same document as same, over text that holds the very same bytes:
  // nothing to validate or index again.
  static RegDocument Same(std::string text, const RegDocument& same);
  // An empty store, as a new file would hold it.
  RegDocument();

  const std::string& Serialize() const { return text_; }
  // True when the key's index is at hand, without a pass over the text.
  bool IndexedFor(std::string_view key_path) const;

  // Key paths begin with the hive's full name ("HKEY_LOCAL_MACHINE\...").
  // A key exists when it has a section of its own or a sub-key does.
  bool HasKey(std::string_view key_path) const;
  // The value of that name (any letter case), as its last line gives it.
  std::optional<RegValue> Find(std::string_view key_path, std::string_view name) const;
  // All values of one key, by upper-cased name.
  std::map<std::string, RegValue> ValuesOf(std::string_view key_path) const;
  // Rewrites the value's line, or adds one after the key's last value.
  void Set(std::string_view key_path, std::string_view name, const RegValue& value);

  // A value name the format can write: a line break would end the line
  // inside the quotes, and a NUL ends the name for the platform's callers.
  static bool CanHoldName(std::string_view name);

 private:
  // Places in the text, 32 bits wide so that a key of many values keeps a
  // small index; a store of 4 GiB or more is refused.
  using Offset = std::uint32_t;
  struct ValueLine {
    Offset begin = 0;
    Offset end = 0;      // past its line end, continuation lines included
    Offset name_at = 0;  // its name's opening quote, or the '@' of the default value
  };
  // Where one key's lines stand in the text.
  struct KeyIndex {
    std::string key;
    bool exists = false;
    bool has_section = false;
    std::vector<ValueLine> values;  // in file order
    std::size_t insert_at = 0;      // after the last value of its last section
  };
  struct ValueText {
    std::string name;
    std::optional<RegValue> value;  // none for a deletion line
  };

  // Validates the whole text and indexes one key; throws RegParseError.
  static KeyIndex Index(std::string_view text, std::string_view key);
  const KeyIndex& IndexOf(std::string_view key_path) const;
  ValueText Read(const ValueLine& line) const;
  bool NameEquals(const ValueLine& line, std::string_view wanted) const;
  const ValueLine* LastLineOf(const KeyIndex& index, std::string_view name) const;

  std::string text_;
  std::string line_end_ = "\r\n";
  mutable KeyIndex index_;
  mutable bool index_valid_ = false;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_REG_DOCUMENT_H_
