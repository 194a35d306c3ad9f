#include "app/failure_report.h"

#include <cstdio>

namespace vendrel {

std::string ModuleName(std::string_view module_path) {
  std::size_t cut = module_path.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? module_path : module_path.substr(cut + 1));
}

std::string FormatFailureReport(const Error& error, std::string_view module_name) {
  char site[9];
  std::snprintf(site, sizeof site, "%08X", static_cast<unsigned>(error.site()));
  const std::string& message = error.message();
  bool add_stop = !message.empty() && message.back() != '.';
  std::string report = "Exception ";
  report += KindName(error.kind());
  report += " in module ";
  report += module_name;
  report += " at ";
  report += site;
  report += ".\r\n";
  report += message;
  if (add_stop) report += '.';
  report += "\r\n\r\n";
  return report;
}

}  // namespace vendrel
