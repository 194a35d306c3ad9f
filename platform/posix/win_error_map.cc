#include "platform/posix/win_error_map.h"

#include <cerrno>

namespace vendrel::platform {

WinCode WinCodeFromErrno(int error_number) {
  switch (error_number) {
    case 0:
      return kSuccess;
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY:
    case ENODEV:  // a FIFO, socket or device where a file was asked for
      return kAccessDenied;
    case EROFS:
      return kWriteProtect;
    case EAGAIN:  // a lock another holds past the wait
    case EBUSY:   // a journal's name taken by something else
      return kSharingViolation;
    case EOVERFLOW:
      return kFileTooLarge;
    case EBADF:
      return kInvalidHandle;
    case ENOMEM:
      return kNotEnoughMemory;
    case EEXIST:
      return kFileExists;
    case EINVAL:
      return kInvalidParameter;
    case EPIPE:
      return kNoData;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:  // past a file-size limit: for the writer, the disk is full
      return kDiskFull;
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ELOOP:
      return kCantResolveFilename;
    case EIO:
      return 1117;  // ERROR_IO_DEVICE
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

bool IsRefusal(int error_number) { return error_number == EACCES || error_number == EPERM; }

}  // namespace vendrel::platform
