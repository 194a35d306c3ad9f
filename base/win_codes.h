// Windows system error codes, as the platform calls report them. The Linux
// layer reports its failures with the same codes.
#ifndef VENDREL_BASE_WIN_CODES_H_
#define VENDREL_BASE_WIN_CODES_H_

#include <cstdint>

namespace vendrel {

using WinCode = std::uint32_t;

constexpr WinCode kSuccess = 0;
constexpr WinCode kFileNotFound = 2;
constexpr WinCode kPathNotFound = 3;
constexpr WinCode kTooManyOpenFiles = 4;
constexpr WinCode kAccessDenied = 5;
constexpr WinCode kInvalidHandle = 6;
constexpr WinCode kNotEnoughMemory = 8;
constexpr WinCode kInvalidData = 13;
constexpr WinCode kWriteProtect = 19;
constexpr WinCode kWriteFault = 29;
constexpr WinCode kReadFault = 30;
constexpr WinCode kSharingViolation = 32;
constexpr WinCode kHandleEof = 38;
constexpr WinCode kFileExists = 80;
constexpr WinCode kInvalidParameter = 87;
constexpr WinCode kBrokenPipe = 109;
constexpr WinCode kDiskFull = 112;
constexpr WinCode kInvalidName = 123;
constexpr WinCode kNegativeSeek = 131;
constexpr WinCode kAlreadyExists = 183;
constexpr WinCode kFileTooLarge = 223;
constexpr WinCode kNoData = 232;
constexpr WinCode kMoreData = 234;
constexpr WinCode kRegistryCorrupt = 1015;
constexpr WinCode kRegistryIoFailed = 1016;
constexpr WinCode kKeyDeleted = 1018;
constexpr WinCode kCantResolveFilename = 1921;

}  // namespace vendrel

#endif  // VENDREL_BASE_WIN_CODES_H_
