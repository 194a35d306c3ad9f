// How GoogleTest shows a Result in a failed expectation: its code, and its
// detail when there is one.
#ifndef VENDREL_TESTS_SUPPORT_RESULT_PRINTER_H_
#define VENDREL_TESTS_SUPPORT_RESULT_PRINTER_H_

#include <ostream>

#include "base/result.h"

namespace vendrel {

inline void PrintTo(const Result& result, std::ostream* out) {
  *out << "code " << result.code();
  if (!result.detail().empty()) *out << " (" << result.detail() << ")";
}

}  // namespace vendrel

#endif  // VENDREL_TESTS_SUPPORT_RESULT_PRINTER_H_
