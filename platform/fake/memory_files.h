// Files kept in memory for tests, by Windows name without regard to case.
#ifndef VENDREL_PLATFORM_FAKE_MEMORY_FILES_H_
#define VENDREL_PLATFORM_FAKE_MEMORY_FILES_H_

#include <map>
#include <set>
#include <string>

#include "platform/files.h"

namespace vendrel::platform {

class MemoryFiles : public Files {
 public:
  // A file, and its folder with it.
  void Put(const std::string& name, std::string content, bool read_only = false);
  // A folder that holds no file yet.
  void AddFolder(const std::string& folder);
  // The content of a file, empty when there is none.
  std::string Content(const std::string& name) const;
  int open_files() const { return static_cast<int>(open_.size()); }

  Result OpenExisting(const std::string& name, FileHandle* file) override;
  Result GetSize(FileHandle file, std::uint64_t* size) override;
  Result SetPosition(FileHandle file, std::uint64_t offset) override;
  Result Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) override;
  Result Write(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* done) override;
  Result Close(FileHandle file) override;

 private:
  struct Stored {
    std::string content;
    bool read_only = false;
  };
  struct Open {
    std::string key;
    std::uint64_t position = 0;
  };

  std::map<std::string, Stored> files_;  // by upper-cased name
  std::set<std::string> folders_;        // upper-cased
  std::map<FileHandle, Open> open_;
  FileHandle next_handle_ = 0x400;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_MEMORY_FILES_H_
