// The answers every Files gives, checked against the fake and the Linux
// implementation alike.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "platform/fake/memory_files.h"
#include "platform/posix/posix_files.h"
#include "test_dir.h"

namespace vendrel::platform {
namespace {

// Each starts with C:\KOVA\dromfile.dat holding "0123456789" and a read-only
// C:\KOVA\locked.dat.
struct MemoryImpl {
  MemoryFiles* files = nullptr;
  std::unique_ptr<Files> Make() {
    auto made = std::make_unique<MemoryFiles>();
    made->Put("C:\\KOVA\\dromfile.dat", "0123456789");
    made->Put("C:\\KOVA\\locked.dat", "x", /*read_only=*/true);
    files = made.get();
    return made;
  }
  std::string Content() { return files->Content("C:\\KOVA\\dromfile.dat"); }
};

struct PosixImpl {
  testing::TestDir dir;
  std::unique_ptr<DriveMap> drives;
  std::unique_ptr<Files> Make() {
    std::filesystem::create_directories(dir / "c:/KOVA");
    testing::WriteFile(dir / "c:/KOVA/dromfile.dat", "0123456789");
    testing::WriteFile(dir / "c:/KOVA/locked.dat", "x");
    chmod((dir / "c:/KOVA/locked.dat").c_str(), 0444);
    drives = std::make_unique<DriveMap>(dir.path());
    return std::make_unique<PosixFiles>(*drives);
  }
  std::string Content() { return testing::ReadFile(dir / "c:/KOVA/dromfile.dat"); }
};

template <typename Impl>
class FilesContractTest : public ::testing::Test {
 protected:
  void SetUp() override { files_ = impl_.Make(); }
  Impl impl_;
  std::unique_ptr<Files> files_;
};

using Implementations = ::testing::Types<MemoryImpl, PosixImpl>;
TYPED_TEST_SUITE(FilesContractTest, Implementations);

TYPED_TEST(FilesContractTest, OpensExistingFilesOnly) {
  FileHandle file = 0;
  EXPECT_EQ(this->files_->OpenExisting("C:\\KOVA\\missing.dat", &file), kFileNotFound);
  EXPECT_EQ(this->files_->OpenExisting("C:\\KOVA\\locked.dat", &file), kAccessDenied);
  ASSERT_EQ(this->files_->OpenExisting("c:\\kova\\DROMFILE.DAT", &file), kSuccess);
  EXPECT_EQ(this->files_->Close(file), kSuccess);
  EXPECT_EQ(this->files_->Close(file), kInvalidHandle);
}

TYPED_TEST(FilesContractTest, PositionedReadsAndWrites) {
  FileHandle file = 0;
  ASSERT_EQ(this->files_->OpenExisting("C:\\KOVA\\dromfile.dat", &file), kSuccess);
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

TEST(PosixFilesTest, PositionsPast4GiBInASparseFile) {
  testing::TestDir dir;
  std::filesystem::create_directories(dir / "c:");
  testing::WriteFile(dir / "c:/big.dat", "");
  std::filesystem::resize_file(dir / "c:/big.dat", (std::uint64_t{5} << 30));
  DriveMap drives(dir.path());
  PosixFiles files(drives);
  FileHandle file = 0;
  ASSERT_EQ(files.OpenExisting("C:\\big.dat", &file), kSuccess);
  const std::uint64_t far = (std::uint64_t{4} << 30) + 359;
  std::uint32_t done = 0;
  ASSERT_EQ(files.SetPosition(file, far), kSuccess);
  ASSERT_EQ(files.Write(file, "stamp", 5, &done), kSuccess);
  char back[5] = {};
  ASSERT_EQ(files.SetPosition(file, far), kSuccess);
  ASSERT_EQ(files.Read(file, back, 5, &done), kSuccess);
  EXPECT_EQ(std::string(back, 5), "stamp");
  // Nothing landed where a 32-bit position would have wrapped to.
  ASSERT_EQ(files.SetPosition(file, 359), kSuccess);
  ASSERT_EQ(files.Read(file, back, 5, &done), kSuccess);
  EXPECT_EQ(std::string(back, 5), std::string(5, '\0'));
  EXPECT_EQ(files.Close(file), kSuccess);
}

}  // namespace
}  // namespace vendrel::platform
