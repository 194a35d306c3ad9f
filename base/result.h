// What a platform call answers: a Windows error code, kSuccess when it
// worked, and for a failure, where the platform layer has one, a detail
// that says why in words (a store's path and line, a refusal's reason).
// Every call of a seam answers this way; the domain code turns a failure it
// cannot absorb into an Error.
#ifndef VENDREL_BASE_RESULT_H_
#define VENDREL_BASE_RESULT_H_

#include <string>
#include <utility>

#include "base/win_codes.h"

namespace vendrel {

class [[nodiscard]] Result {
 public:
  Result() = default;
  // A seam's answers are Windows codes, so a code converts to a result.
  Result(WinCode code) : code_(code) {}  // NOLINT(google-explicit-constructor)
  Result(WinCode code, std::string detail) : code_(code), detail_(std::move(detail)) {}

  bool ok() const { return code_ == kSuccess; }
  WinCode code() const { return code_; }
  const std::string& detail() const { return detail_; }

  // For the calls whose failure the program's rules ignore (a flush, a
  // close on the way out): says so where the call is made.
  void IgnoreFailure() const {}

 private:
  WinCode code_ = kSuccess;
  std::string detail_;
};

// A result is its code; the detail only explains it.
inline bool operator==(const Result& result, WinCode code) { return result.code() == code; }
inline bool operator!=(const Result& result, WinCode code) { return result.code() != code; }

}  // namespace vendrel

#endif  // VENDREL_BASE_RESULT_H_
