#include "platform/posix/files/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/posix/files/crash_point.h"
#include "platform/posix/files/placed_file.h"
#include "platform/posix/win_error_map.h"

namespace vendrel::platform {

Result PosixFiles::OpenExisting(const std::string& name, FileHandle* file) {
  PlacedFile placed;
  if (WinCode code = drives_.Place(name, PathUse::kExisting, &placed)) return code;
  // Windows opens neither a folder nor a device as a record file, and a file
  // without any write bit is read-only for every user, root included.
  struct stat st;
  if (int error = StatPlaced(placed, &st); error != 0) return WinCodeFromErrno(error);
  if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return kAccessDenied;
  UniqueFd fd;
  if (int error = OpenPlaced(placed, O_RDWR, &fd, &st); error != 0) {
    return WinCodeFromErrno(error);
  }
  *file = static_cast<FileHandle>(fd.get());
  open_.push_back(OpenFile{std::move(fd), 0});
  return kSuccess;
}

PosixFiles::OpenFile* PosixFiles::Find(FileHandle file) {
  for (OpenFile& open : open_) {
    if (static_cast<FileHandle>(open.fd.get()) == file) return &open;
  }
  return nullptr;
}

Result PosixFiles::GetSize(FileHandle file, std::uint64_t* size) {
  OpenFile* open = Find(file);
  if (open == nullptr) return kInvalidHandle;
  struct stat st;
  if (fstat(open->fd.get(), &st) != 0) return WinCodeFromErrno(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return kSuccess;
}

Result PosixFiles::SetPosition(FileHandle file, std::uint64_t offset) {
  OpenFile* open = Find(file);
  if (open == nullptr) return kInvalidHandle;
  // Windows refuses a position its signed 64-bit pointer cannot hold.
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return kNegativeSeek;
  }
  open->position = offset;
  return kSuccess;
}

Result PosixFiles::Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  OpenFile* open = Find(file);
  if (open == nullptr) return kInvalidHandle;
  ssize_t got;
  do {
    got = pread(open->fd.get(), buffer, size, static_cast<off_t>(open->position));
  } while (got < 0 && errno == EINTR);
  if (got < 0) return WinCodeFromErrno(errno);
  *done = static_cast<std::uint32_t>(got);
  open->position += *done;
  return kSuccess;
}

Result PosixFiles::Write(FileHandle file, const void* data, std::uint32_t size,
                         std::uint32_t* done) {
  *done = 0;
  OpenFile* open = Find(file);
  if (open == nullptr) return kInvalidHandle;
  // Past the largest position the file can have, nothing can be written.
  if (open->position + size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return kDiskFull;
  }
  ssize_t wrote;
  do {
    wrote = pwrite(open->fd.get(), data, size, static_cast<off_t>(open->position));
  } while (wrote < 0 && errno == EINTR);
  CrashPointAfter("write");
  if (wrote < 0) return WinCodeFromErrno(errno);
  *done = static_cast<std::uint32_t>(wrote);
  open->position += *done;
  return kSuccess;
}

Result PosixFiles::Close(FileHandle file) {
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (static_cast<FileHandle>(it->fd.get()) != file) continue;
    int error = it->fd.Close();
    open_.erase(it);
    return WinCodeFromErrno(error);
  }
  return kInvalidHandle;
}

}  // namespace vendrel::platform
