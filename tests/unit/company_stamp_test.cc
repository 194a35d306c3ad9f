#include "company/company_stamp.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/console_stream.h"
#include "base/error.h"
#include "company/company_record.h"
#include "platform/fake/faulty_console.h"
#include "platform/fake/faulty_files.h"
#include "platform/fake/memory_console.h"
#include "platform/fake/memory_files.h"
#include "support/discarding_console.h"

namespace vendrel {
namespace {

using platform::FaultPlan;

constexpr const char* kFile = "F:\\KOVA\\dromfile.dat";

std::string Record(int index, const std::string& name) {
  std::string record(kRecordSize, static_cast<char>('a' + index));
  record[0] = static_cast<char>(name.size());
  record.replace(1, name.size(), name);
  return record;
}

std::string Stamped(std::string record, const std::string& stamp) {
  record[kVersionOffset] = static_cast<char>(stamp.size());
  record.replace(kVersionOffset + 1, stamp.size(), stamp);
  return record;
}

class CompanyStampTest : public ::testing::Test {
 protected:
  CompanyStampTest() : files_(stored_, plan_) {
    stored_.Put(kFile, Record(0, "Head") + Record(1, "Alpha") + Record(2, "Beta") + "tail");
  }

  std::string Stamp(const std::string& version_text, std::string typed = "") {
    platform::MemoryConsole memory(std::move(typed));
    platform::FaultyConsole console(memory, plan_);
    ConsoleStream out(console);
    try {
      StampCompanyFile(version_text, stored_drive_, files_, out);
    } catch (...) {
      out.Flush();
      output_ = memory.output();
      throw;
    }
    out.Flush();
    return memory.output();
  }

  std::optional<std::string> stored_drive_ = "F:";
  platform::MemoryFiles stored_;
  FaultPlan plan_;
  platform::FaultyFiles files_;
  std::string output_;
};

TEST_F(CompanyStampTest, StampsEveryRecordButTheFirst) {
  EXPECT_EQ(Stamp("2.10"),
            "working dir: F:\\KOVA\\\r\nUpdated TARVEL1: Alpha\r\nUpdated TARVEL2: Beta\r\n");
  EXPECT_EQ(stored_.Content(kFile), Record(0, "Head") + Stamped(Record(1, "Alpha"), "2.10") +
                                        Stamped(Record(2, "Beta"), "2.10") + "tail");
  EXPECT_EQ(stored_.open_files(), 0);
  EXPECT_EQ(plan_.Calls("GetFileSize"), 3);  // taken again before every record
}

TEST_F(CompanyStampTest, StampValueAndWorkingDirRules) {
  EXPECT_EQ(StampValue(" 2024.1"), "2024");
  EXPECT_EQ(StampValue("\t7 "), "7");
  EXPECT_EQ(StampValue("   "), "");
  EXPECT_EQ(WorkingDir("ABCD:"), "ABCD:\\KOVA");
  EXPECT_EQ(WorkingDir(""), "\\KOVA\\");
  EXPECT_EQ(WorkingDir(std::nullopt), "");
}

TEST_F(CompanyStampTest, AnOpenFailureWaitsForEnterThenAborts) {
  stored_ = platform::MemoryFiles();
  stored_.AddFolder("F:\\KOVA");
  try {
    Stamp("2.10", "typed\r\nnext\r\n");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kAbort);
    EXPECT_EQ(error.message(), "Operation aborted");
  }
  EXPECT_EQ(output_,
            "working dir: F:\\KOVA\\\r\n"
            "Error: could not open F:\\KOVA\\dromfile.dat  error 2.  Program will abort.\r\n");
  EXPECT_EQ(plan_.Calls("ReadFile(stdin)"), 1);
}

// File calls inside the loop failing at other points than the whole-run
// fault table tries: the message, and how many records were stamped before
// it, byte for byte.
struct LoopFault {
  const char* operation;
  int nth;
  WinCode code;
  const char* message;
  int records_stamped;
};

void PrintTo(const LoopFault& row, std::ostream* out) {
  *out << row.operation << " call " << row.nth << " fails with " << row.code;
}

class CompanyStampFaultTest : public CompanyStampTest,
                              public ::testing::WithParamInterface<LoopFault> {};

TEST_P(CompanyStampFaultTest, EndsWithAnInOutErrorAndTouchesNoLaterRecord) {
  const LoopFault& row = GetParam();
  plan_.Fail(row.operation, row.nth, row.code);
  try {
    Stamp("2.10");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kInOut);
    EXPECT_EQ(error.message(), row.message);
  }
  std::string content = stored_.Content(kFile);
  EXPECT_EQ(content.substr(0, kRecordSize), Record(0, "Head"));
  if (row.records_stamped >= 1) {
    EXPECT_EQ(content.substr(kRecordSize, kRecordSize), Stamped(Record(1, "Alpha"), "2.10"));
  } else if (std::string(row.operation) != "WriteFile") {
    EXPECT_EQ(content.substr(kRecordSize, kRecordSize), Record(1, "Alpha"));
  }
  if (row.records_stamped < 2 && !(std::string(row.operation) == "WriteFile" && row.nth == 2)) {
    EXPECT_EQ(content.substr(2 * kRecordSize, kRecordSize), Record(2, "Beta"));
  }
  EXPECT_EQ(content.substr(3 * kRecordSize), "tail");
  std::size_t lines = 0;
  for (std::size_t at = output_.find("Updated"); at != std::string::npos;
       at = output_.find("Updated", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, static_cast<std::size_t>(row.records_stamped));
  EXPECT_EQ(stored_.open_files(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, CompanyStampFaultTest,
    ::testing::Values(LoopFault{"GetFileSize", 2, kInvalidHandle, "I/O error 6", 1},
                      LoopFault{"SetFilePointer", 4, kInvalidHandle, "I/O error 6", 1},
                      LoopFault{"ReadFile", 1, kReadFault, "I/O error 30", 0},
                      LoopFault{"ReadFile", 2, platform::kShortTransfer, "Read beyond end of file",
                                1},
                      LoopFault{"WriteFile", 2, kFileNotFound, "File not found", 1},
                      LoopFault{"ReadFile", 1, kPathNotFound, "Invalid filename", 0},
                      LoopFault{"ReadFile", 1, kTooManyOpenFiles, "Too many open files", 0}));

// A file that claims a size past 2 GiB and keeps no data: it only checks
// that every record is read and written at index * 359, computed without
// wrapping.
class HugeFile : public platform::Files {
 public:
  explicit HugeFile(std::uint64_t records) : size_(records * kRecordSize) {}

  Result OpenExisting(const std::string&, platform::FileHandle* file) override {
    *file = 1;
    return kSuccess;
  }
  Result GetSize(platform::FileHandle, std::uint64_t* size) override {
    *size = size_;
    return kSuccess;
  }
  Result SetPosition(platform::FileHandle, std::uint64_t offset) override {
    position_ = offset;
    return kSuccess;
  }
  Result Read(platform::FileHandle, void* buffer, std::uint32_t size,
              std::uint32_t* done) override {
    if (position_ != expected_) ++misplaced_;
    std::memset(buffer, 0, size);
    *done = size;
    return kSuccess;
  }
  Result Write(platform::FileHandle, const void*, std::uint32_t size,
               std::uint32_t* done) override {
    if (position_ != expected_) ++misplaced_;
    expected_ += kRecordSize;
    last_write_ = position_;
    *done = size;
    return kSuccess;
  }
  Result Close(platform::FileHandle) override { return kSuccess; }

  std::uint64_t last_write() const { return last_write_; }
  int misplaced() const { return misplaced_; }

 private:
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  std::uint64_t expected_ = kRecordSize;
  std::uint64_t last_write_ = 0;
  int misplaced_ = 0;
};

TEST_F(CompanyStampTest, RecordsPast2GiBAreWrittenAtTheirOwnPlace) {
  const std::uint64_t records = (std::uint64_t{1} << 31) / kRecordSize + 3;
  HugeFile file(records);
  testing::DiscardingConsole console;
  ConsoleStream out(console);
  StampCompanyFile("2.10", "F:", file, out);
  EXPECT_EQ(file.misplaced(), 0);
  EXPECT_EQ(file.last_write(), (records - 1) * kRecordSize);
  EXPECT_GT(file.last_write(), std::uint64_t{1} << 31);
}

}  // namespace
}  // namespace vendrel
