#ifndef VENDREL_PLATFORM_WIN32_WIN32_FILES_H_
#define VENDREL_PLATFORM_WIN32_WIN32_FILES_H_

#include <map>

#include "platform/files.h"
#include "platform/win32/unique_handle.h"

namespace vendrel::platform {

// CreateFileA and its companions, passed straight through, with 64-bit
// positions and sizes (the high parts included).
class Win32Files : public Files {
 public:
  Result OpenExisting(const std::string& name, FileHandle* file) override;
  Result GetSize(FileHandle file, std::uint64_t* size) override;
  Result SetPosition(FileHandle file, std::uint64_t offset) override;
  Result Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) override;
  Result Write(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* done) override;
  Result Close(FileHandle file) override;

 private:
  HANDLE Find(FileHandle file) const;

  std::map<FileHandle, UniqueFileHandle> open_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_WIN32_WIN32_FILES_H_
