// The answers every Files gives. Each implementation instantiates the suite
// with an Impl that offers:
//   std::unique_ptr<Files> Make();   leaving KOVA\dromfile.dat holding
//                                    "0123456789" and a read-only KOVA\locked.dat
//   std::string Name(const std::string& inside);  the name to open, e.g.
//                                    "C:\KOVA\dromfile.dat" for "KOVA\dromfile.dat"
//   std::string Content();           KOVA\dromfile.dat as it is now
//   bool EnforcesReadOnly();         false where the platform lets this
//                                    user write a read-only file anyway
#ifndef VENDREL_TESTS_UNIT_CONTRACT_FILES_CONTRACT_H_
#define VENDREL_TESTS_UNIT_CONTRACT_FILES_CONTRACT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/files.h"
#include "support/result_printer.h"

namespace vendrel::platform {

template <typename Impl>
class FilesContract : public ::testing::Test {
 protected:
  void SetUp() override { files_ = impl_.Make(); }
  Impl impl_;
  std::unique_ptr<Files> files_;
};

TYPED_TEST_SUITE_P(FilesContract);

TYPED_TEST_P(FilesContract, OpensExistingFilesOnly) {
  FileHandle file = 0;
  EXPECT_EQ(this->files_->OpenExisting(this->impl_.Name("KOVA\\missing.dat"), &file),
            kFileNotFound);
  EXPECT_EQ(this->files_->OpenExisting(this->impl_.Name("NOPE\\missing.dat"), &file),
            kPathNotFound);
  if (this->impl_.EnforcesReadOnly()) {
    EXPECT_EQ(this->files_->OpenExisting(this->impl_.Name("KOVA\\locked.dat"), &file),
              kAccessDenied);
  }
  ASSERT_EQ(this->files_->OpenExisting(this->impl_.Name("kova\\DROMFILE.DAT"), &file), kSuccess);
  EXPECT_EQ(this->files_->Close(file), kSuccess);
  EXPECT_EQ(this->files_->Close(file), kInvalidHandle);
}

TYPED_TEST_P(FilesContract, PositionedReadsAndWrites) {
  FileHandle file = 0;
  ASSERT_EQ(this->files_->OpenExisting(this->impl_.Name("KOVA\\dromfile.dat"), &file), kSuccess);
  std::uint64_t size = 0;
  EXPECT_EQ(this->files_->GetSize(file, &size), kSuccess);
  EXPECT_EQ(size, 10u);
  char buffer[8] = {};
  std::uint32_t done = 0;
  EXPECT_EQ(this->files_->SetPosition(file, 6), kSuccess);
  EXPECT_EQ(this->files_->Read(file, buffer, 8, &done), kSuccess);
  EXPECT_EQ(done, 4u);  // a short read at the end is no error
  EXPECT_EQ(std::string(buffer, done), "6789");
  EXPECT_EQ(this->files_->Read(file, buffer, 8, &done), kSuccess);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(this->files_->SetPosition(file, 2), kSuccess);
  EXPECT_EQ(this->files_->Write(file, "ab", 2, &done), kSuccess);
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(this->files_->Write(file, "cd", 2, &done), kSuccess);
  EXPECT_EQ(this->files_->SetPosition(file, 12), kSuccess);
  EXPECT_EQ(this->files_->Write(file, "z", 1, &done), kSuccess);
  EXPECT_EQ(this->files_->GetSize(file, &size), kSuccess);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(this->files_->Close(file), kSuccess);
  EXPECT_EQ(this->impl_.Content(), std::string("01abcd6789\0\0z", 13));
}

REGISTER_TYPED_TEST_SUITE_P(FilesContract, OpensExistingFilesOnly, PositionedReadsAndWrites);

}  // namespace vendrel::platform

#endif  // VENDREL_TESTS_UNIT_CONTRACT_FILES_CONTRACT_H_
