// Wraps any Files and makes the calls a FaultPlan names fail. A planned
// kShortTransfer lets a read or write succeed with half of the bytes.
#ifndef VENDREL_PLATFORM_FAKE_FAULTY_FILES_H_
#define VENDREL_PLATFORM_FAKE_FAULTY_FILES_H_

#include "platform/fake/fault_plan.h"
#include "platform/files.h"

namespace vendrel::platform {

// Operation names: "CreateFileA", "GetFileSize", "SetFilePointer",
// "ReadFile", "WriteFile", "CloseHandle".
class FaultyFiles : public Files {
 public:
  FaultyFiles(Files& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}

  Result OpenExisting(const std::string& name, FileHandle* file) override;
  Result GetSize(FileHandle file, std::uint64_t* size) override;
  Result SetPosition(FileHandle file, std::uint64_t offset) override;
  Result Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* done) override;
  Result Write(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* done) override;
  Result Close(FileHandle file) override;

 private:
  Files& inner_;
  FaultPlan& plan_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_FAULTY_FILES_H_
