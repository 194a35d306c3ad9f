#include "platform/posix/profile/posix_profile.h"

#include "platform/posix/files/atomic_update.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/profile/ini_document.h"
#include "platform/posix/win_error_map.h"

namespace vendrel::platform {
namespace {

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// The edit of one entry, in place in *text: a write when value holds one,
// else a deletion, which leaves a file without the entry as it is (not
// rewritten: null is returned). A UTF-16 file is never edited as single
// bytes: *refused then says why.
const std::string* EditEntry(std::string* text, const IniPlace& place,
                             const std::optional<std::string>& value, Result* refused) {
  if (std::optional<std::string> kind = Utf16Kind(*text)) {
    *refused =
        Result(kInvalidData, "the file holds " + *kind + ", which is not edited as single bytes");
    return nullptr;
  }
  if (!value) return IniDelete(text, place) ? text : nullptr;
  IniWrite(text, place, *value);
  return text;
}

}  // namespace

Result PosixProfileWriter::WriteEntry(const std::optional<std::string>& section,
                                      const std::optional<std::string>& key,
                                      const std::optional<std::string>& value,
                                      const std::string& file_name) {
  // A flush: nothing is held in memory. It answers a failure, as the
  // platform's flush always does.
  if (!section && !key && !value) return kInvalidParameter;
  // Whole sections are never deleted or listed here.
  if (!section || !key) return kInvalidParameter;
  // A line break inside a name or value would end its line early and let
  // the rest stand as lines of their own.
  if (HasLineBreak(*section) || HasLineBreak(*key) || (value && HasLineBreak(*value))) {
    return Result(kInvalidParameter, "a line break cannot stand inside an entry");
  }
  PlacedFile placed;
  if (WinCode code = drives_.Place(file_name, PathUse::kNewOrOld, &placed)) return code;

  Result refused;
  const IniPlace place{*section, *key};
  std::string created;  // the text of a file that does not exist yet
  int error = UpdateFileAtomically(placed, value ? WhenMissing::kCreate : WhenMissing::kFail,
                                   kLargestSettingsFile, [&](std::string* old) {
                                     return EditEntry(old != nullptr ? old : &created, place, value,
                                                      &refused);
                                   });
  if (error != 0)
    return Result(WinCodeFromErrno(error), DescribeFileError(error, placed, kLargestSettingsFile));
  return refused;
}

}  // namespace vendrel::platform
