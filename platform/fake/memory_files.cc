#include "platform/fake/memory_files.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace vendrel::platform {

namespace {

std::string FolderOf(const std::string& name) {
  std::size_t slash = name.find_last_of('\\');
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

}  // namespace

void MemoryFiles::Put(const std::string& name, std::string content, bool read_only) {
  files_[UpperCase(name)] = Stored{std::move(content), read_only};
  AddFolder(FolderOf(name));
}

void MemoryFiles::AddFolder(const std::string& folder) { folders_.insert(UpperCase(folder)); }

std::string MemoryFiles::Content(const std::string& name) const {
  auto found = files_.find(UpperCase(name));
  return found == files_.end() ? std::string() : found->second.content;
}

Result MemoryFiles::OpenExisting(const std::string& name, FileHandle* file) {
  auto found = files_.find(UpperCase(name));
  if (found == files_.end()) {
    return folders_.count(UpperCase(FolderOf(name))) != 0 ? kFileNotFound : kPathNotFound;
  }
  if (found->second.read_only) return kAccessDenied;
  *file = next_handle_++;
  open_[*file] = Open{found->first, 0};
  return kSuccess;
}

Result MemoryFiles::GetSize(FileHandle file, std::uint64_t* size) {
  auto open = open_.find(file);
  if (open == open_.end()) return kInvalidHandle;
  *size = files_[open->second.key].content.size();
  return kSuccess;
}

Result MemoryFiles::SetPosition(FileHandle file, std::uint64_t offset) {
  auto open = open_.find(file);
  if (open == open_.end()) return kInvalidHandle;
  open->second.position = offset;
  return kSuccess;
}

Result MemoryFiles::Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  auto open = open_.find(file);
  if (open == open_.end()) return kInvalidHandle;
  const std::string& content = files_[open->second.key].content;
  std::uint64_t at = std::min<std::uint64_t>(open->second.position, content.size());
  auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, content.size() - at));
  std::memcpy(buffer, content.data() + at, count);
  open->second.position = at + count;
  *done = count;
  return kSuccess;
}

Result MemoryFiles::Write(FileHandle file, const void* data, std::uint32_t size,
                          std::uint32_t* done) {
  *done = 0;
  auto open = open_.find(file);
  if (open == open_.end()) return kInvalidHandle;
  std::string& content = files_[open->second.key].content;
  std::uint64_t end = open->second.position + size;
  if (content.size() < end) content.resize(end, '\0');
  std::memcpy(&content[open->second.position], data, size);
  open->second.position = end;
  *done = size;
  return kSuccess;
}

Result MemoryFiles::Close(FileHandle file) {
  return open_.erase(file) != 0 ? kSuccess : kInvalidHandle;
}

}  // namespace vendrel::platform
