#include "platform/win32/win32_files.h"

namespace vendrel::platform {

HANDLE Win32Files::Find(FileHandle file) const {
  auto found = open_.find(file);
  return found == open_.end() ? INVALID_HANDLE_VALUE : found->second.get();
}

Result Win32Files::OpenExisting(const std::string& name, FileHandle* file) {
  HANDLE handle =
      CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  *file = reinterpret_cast<FileHandle>(handle);
  open_[*file] = UniqueFileHandle(handle);
  return kSuccess;
}

Result Win32Files::GetSize(FileHandle file, std::uint64_t* size) {
  DWORD high = 0;
  DWORD low = GetFileSize(Find(file), &high);
  if (low == INVALID_FILE_SIZE) {
    DWORD error = GetLastError();
    if (error != NO_ERROR) return error;
  }
  *size = (std::uint64_t{high} << 32) | low;
  return kSuccess;
}

Result Win32Files::SetPosition(FileHandle file, std::uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low =
      SetFilePointer(Find(file), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER) {
    DWORD error = GetLastError();
    if (error != NO_ERROR) return error;
  }
  return kSuccess;
}

Result Win32Files::Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  DWORD got = 0;
  BOOL ok = ReadFile(Find(file), buffer, size, &got, nullptr);
  *done = got;
  return ok ? kSuccess : GetLastError();
}

Result Win32Files::Write(FileHandle file, const void* data, std::uint32_t size,
                         std::uint32_t* done) {
  DWORD wrote = 0;
  BOOL ok = WriteFile(Find(file), data, size, &wrote, nullptr);
  *done = wrote;
  return ok ? kSuccess : GetLastError();
}

Result Win32Files::Close(FileHandle file) {
  auto found = open_.find(file);
  if (found == open_.end()) return kInvalidHandle;
  HANDLE handle = found->second.Release();
  open_.erase(found);
  return CloseHandle(handle) ? kSuccess : GetLastError();
}

}  // namespace vendrel::platform
