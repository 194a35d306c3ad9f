// Words for the failures of the file layer that a Windows code alone would
// leave unexplained: a lock held too long, a journal's name taken, a file
// too large to read, something that is not a file.
#ifndef VENDREL_PLATFORM_POSIX_FILES_FILE_ERRORS_H_
#define VENDREL_PLATFORM_POSIX_FILES_FILE_ERRORS_H_

#include <string>

#include "platform/posix/files/placed_file.h"

namespace vendrel::platform {

// The reason for error (an errno value from this layer) at the placed file,
// which may not exist; empty where the code says enough.
std::string DescribeFileError(int error, const PlacedFile& placed, std::size_t cap);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_FILE_ERRORS_H_
