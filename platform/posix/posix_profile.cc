#include "platform/posix/posix_profile.h"

#include "platform/posix/atomic_update.h"
#include "platform/posix/ini_document.h"

namespace vendrel::platform {
namespace {

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

bool PosixProfileWriter::WriteEntry(const std::optional<std::string>& section,
                                    const std::optional<std::string>& key,
                                    const std::optional<std::string>& value,
                                    const std::string& file_name) {
  // A flush: nothing is held in memory. It answers false, as the platform's
  // flush always does.
  if (!section && !key && !value) return false;
  // Whole sections are never deleted or listed here.
  if (!section || !key) return false;
  // A line break inside a name or value would end its line early and let
  // the rest stand as lines of their own.
  if (HasLineBreak(*section) || HasLineBreak(*key) || (value && HasLineBreak(*value))) {
    return false;
  }
  std::string host;
  if (drives_.Resolve(file_name, PathUse::kNewOrOld, &host) != kSuccess) return false;

  bool refused = false;
  int error = UpdateFileAtomically(host, value ? WhenMissing::kCreate : WhenMissing::kFail,
                                   [&](std::string* old) -> std::optional<std::string> {
                                     std::string_view text = old != nullptr ? std::string_view(*old)
                                                                            : std::string_view();
                                     if (IsUtf16(text)) {
                                       refused = true;
                                       return std::nullopt;
                                     }
                                     // Nothing to delete leaves the file as it is: it is not
                                     // rewritten.
                                     if (!value) return IniDelete(text, *section, *key);
                                     return IniWrite(text, *section, *key, *value);
                                   });
  return error == 0 && !refused;
}

}  // namespace vendrel::platform
