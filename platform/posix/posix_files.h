#ifndef VENDREL_PLATFORM_POSIX_POSIX_FILES_H_
#define VENDREL_PLATFORM_POSIX_POSIX_FILES_H_

#include <vector>

#include "platform/files.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/unique_fd.h"

namespace vendrel::platform {

// Files by drive-letter path. Each call is one system call on the open
// descriptor; nothing is buffered here.
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
  // The descriptor of an open handle, -1 for any other. A handle is its
  // descriptor's number; a run holds one file open at a time, so a short
  // list serves better than a map on this per-record path.
  int Descriptor(FileHandle file) const;

  const DriveMap& drives_;
  std::vector<UniqueFd> open_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_POSIX_FILES_H_
