// The one error type of the program. Every failure that ends a run travels as
// an Error up to the run driver, which prints the failure report.
#ifndef VENDREL_BASE_ERROR_H_
#define VENDREL_BASE_ERROR_H_

#include <cstdint>
#include <exception>
#include <string>

namespace vendrel {

enum class ErrorKind { kRegistry, kIniFile, kInOut, kAbort, kOutOfMemory };

// The name the failure report prints, e.g. "ERegistryException".
const char* KindName(ErrorKind kind);

// Where an error was raised. The failure report prints the value as eight
// hexadecimal digits, so each raising site keeps its own fixed number.
enum class RaiseSite : std::uint32_t {
  kRegistryInvalidType = 0x0040A1C4,
  kRegistryGetData = 0x0040A21B,
  kRegistrySetData = 0x0040A2E7,
  kRegistryStore = 0x0040A35D,
  kIniFileWrite = 0x0040B116,
  kDatabaseName = 0x0040B18A,
  kCompanyOpenAbort = 0x0040C0D2,
  kCompanyIo = 0x0040C14F,
  kCompanyClose = 0x0040C1B3,
  kConsoleWrite = 0x00403A48,
  kConsoleRead = 0x00403AB9,
  kOutOfMemory = 0x00402F10,
};

class Error : public std::exception {
 public:
  Error(ErrorKind kind, std::string message, RaiseSite site);

  ErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  RaiseSite site() const { return site_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  ErrorKind kind_;
  std::string message_;
  RaiseSite site_;
};

// An EInOutError for a Windows error code (or 100 and 101 for a short read
// or write), with the message the product's users know for it.
Error InOutError(std::uint32_t code, RaiseSite site);
std::string InOutMessage(std::uint32_t code);

}  // namespace vendrel

#endif  // VENDREL_BASE_ERROR_H_
