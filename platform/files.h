// Files as CreateFileA and its companions offer them: open an existing file
// for shared reading and writing, size, position, read, write, close. Every
// call answers with a Result carrying the Windows code. Positions are 64-bit.
#ifndef VENDREL_PLATFORM_FILES_H_
#define VENDREL_PLATFORM_FILES_H_

#include <cstdint>
#include <string>

#include "base/result.h"

namespace vendrel::platform {

using FileHandle = std::uintptr_t;

class Files {
 public:
  virtual ~Files() = default;

  // CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ |
  // FILE_SHARE_WRITE, null, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, null).
  virtual Result OpenExisting(const std::string& name, FileHandle* file) = 0;
  virtual Result GetSize(FileHandle file, std::uint64_t* size) = 0;
  virtual Result SetPosition(FileHandle file, std::uint64_t offset) = 0;
  // One read: *done may be less than size at the end of the file.
  virtual Result Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) = 0;
  // One write: *done may be less than size when the disk is full.
  virtual Result Write(FileHandle file, const void* data, std::uint32_t size,
                       std::uint32_t* done) = 0;
  virtual Result Close(FileHandle file) = 0;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FILES_H_
