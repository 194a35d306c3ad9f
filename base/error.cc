#include "base/error.h"

#include <utility>

namespace vendrel {

const char* KindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kRegistry:
      return "ERegistryException";
    case ErrorKind::kIniFile:
      return "EIniFileException";
    case ErrorKind::kInOut:
      return "EInOutError";
    case ErrorKind::kAbort:
      return "EAbort";
    case ErrorKind::kOutOfMemory:
      return "EOutOfMemory";
  }
  return "Exception";
}

Error::Error(ErrorKind kind, std::string message, RaiseSite site)
    : kind_(kind), message_(std::move(message)), site_(site) {}

std::string InOutMessage(std::uint32_t code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

Error InOutError(std::uint32_t code, RaiseSite site) {
  return Error(ErrorKind::kInOut, InOutMessage(code), site);
}

}  // namespace vendrel
