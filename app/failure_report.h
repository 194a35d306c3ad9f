// The report printed when an error ends the run.
#ifndef VENDREL_APP_FAILURE_REPORT_H_
#define VENDREL_APP_FAILURE_REPORT_H_

#include <string>
#include <string_view>

#include "base/error.h"

namespace vendrel {

// The program file's name: its path after the last backslash (or slash).
std::string ModuleName(std::string_view module_path);

// "Exception <kind> in module <module> at <site>." CR LF, the message with a
// closing "." unless it has one, CR LF, and an empty line.
std::string FormatFailureReport(const Error& error, std::string_view module_name);

}  // namespace vendrel

#endif  // VENDREL_APP_FAILURE_REPORT_H_
