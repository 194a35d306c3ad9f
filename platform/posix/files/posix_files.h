#ifndef VENDREL_PLATFORM_POSIX_FILES_POSIX_FILES_H_
#define VENDREL_PLATFORM_POSIX_FILES_POSIX_FILES_H_

#include <vector>

#include "platform/files.h"
#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {

// Files by drive-letter path. The file pointer of each handle is kept here,
// as Windows keeps it for a handle: a positioning call moves it without a
// system call, and a read or write is one positioned call at it (pread,
// pwrite) that moves it on by what it moved. Nothing else is buffered.
class PosixFiles : public Files {
 public:
  explicit PosixFiles(const DriveMap& drives) : drives_(drives) {}

  Result OpenExisting(const std::string& name, FileHandle* file) override;
  Result GetSize(FileHandle file, std::uint64_t* size) override;
  Result SetPosition(FileHandle file, std::uint64_t offset) override;
  Result Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) override;
  Result Write(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* done) override;
  Result Close(FileHandle file) override;

 private:
  struct OpenFile {
    UniqueFd fd;
    std::uint64_t position = 0;
  };

  // The open file of a handle, null for any other. A handle is its
  // descriptor's number; a run holds one file open at a time, so a short
  // list serves better than a map on this per-record path.
  OpenFile* Find(FileHandle file);

  const DriveMap& drives_;
  std::vector<OpenFile> open_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_POSIX_FILES_H_
