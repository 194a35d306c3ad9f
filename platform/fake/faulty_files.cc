#include "platform/fake/faulty_files.h"

namespace vendrel::platform {

Result FaultyFiles::OpenExisting(const std::string& name, FileHandle* file) {
  if (WinCode code = plan_.Next("CreateFileA")) return code;
  return inner_.OpenExisting(name, file);
}

Result FaultyFiles::GetSize(FileHandle file, std::uint64_t* size) {
  if (WinCode code = plan_.Next("GetFileSize")) return code;
  return inner_.GetSize(file, size);
}

Result FaultyFiles::SetPosition(FileHandle file, std::uint64_t offset) {
  if (WinCode code = plan_.Next("SetFilePointer")) return code;
  return inner_.SetPosition(file, offset);
}

Result FaultyFiles::Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  WinCode code = plan_.Next("ReadFile");
  if (code == kShortTransfer) return inner_.Read(file, buffer, size / 2, done);
  if (code != kSuccess) {
    *done = 0;
    return code;
  }
  return inner_.Read(file, buffer, size, done);
}

Result FaultyFiles::Write(FileHandle file, const void* data, std::uint32_t size,
                          std::uint32_t* done) {
  WinCode code = plan_.Next("WriteFile");
  if (code == kShortTransfer) return inner_.Write(file, data, size / 2, done);
  if (code != kSuccess) {
    *done = 0;
    return code;
  }
  return inner_.Write(file, data, size, done);
}

// The handle is gone either way, as with a failed CloseHandle.
Result FaultyFiles::Close(FileHandle file) {
  Result closed = inner_.Close(file);
  if (WinCode code = plan_.Next("CloseHandle")) return code;
  return closed;
}

}  // namespace vendrel::platform
