// Every platform call a complete run makes, failed in turn: the report, what
// was stored before the failure, and that nothing but cleanup ran after it.
// A call the run starts making without a row here fails
// EveryCallOfACompleteRunHasARow.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "company/company_record.h"
#include "support/fake_run.h"

namespace vendrel {
namespace {

using platform::RootKey;
namespace code = ::vendrel;

constexpr const char* kKey = "Software\\Tarvel Global";
constexpr const char* kCompanyFile = "F:\\KOVA\\dromfile.dat";
constexpr const char* kSettingsFile = "F:\\kova\\kelvarini.dat";
constexpr RootKey kLm = RootKey::kLocalMachine;

// What may still run once a call has failed: output of the report and
// releasing what is open.
const std::set<std::string> kCleanup = {"WriteFile(stdout)", "RegFlushKey", "RegCloseKey",
                                        "CloseHandle", "WritePrivateProfileStringA(flush)"};

std::string Record(int index) {
  std::string record(kRecordSize, static_cast<char>('a' + index));
  record[0] = 4;
  record.replace(1, 4, "Name");
  return record;
}

bool IsStamped(const std::string& record) {
  return record.compare(kVersionOffset, 5,
                        "\x04"
                        "2.10") == 0;
}

struct FaultRow {
  const char* operation;
  int nth;
  WinCode code;
  const char* kind;     // the report's error kind, or "" for a run that completes
  const char* message;  // the report's last line, without its full stop
  // What is stored when the run ends.
  const char* drive;  // "C:" before the write step, "F:" after its first set
  bool relief_set;
  int records_stamped;  // of 2; -1 where a torn write leaves it open
  bool database_set;
  const char* also_shown = "";  // a line the output holds before the report
  // The calls after the failing one, other than cleanup, for a failed run.
  const char* then = "";
  bool typed_drive = false;  // the drive comes from the prompt, not argument 1
};

void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << row.operation << " call " << row.nth << " fails with " << row.code;
}

class FullRunTest : public ::testing::Test, public testing::FakeMachine {
 protected:
  FullRunTest() {
    registry_.PutText(kLm, kKey, "Drive", "C:");
    registry_.PutText(kLm, kKey, "InstPath", "C:\\KOVA32");
    files_.Put(kCompanyFile, Record(0) + Record(1) + Record(2));
    profile_.AddFolder("F:\\kova");
  }

  int Run(bool typed_drive) {
    std::vector<std::string> arguments = {"-v6/7", "-pY", "-w2.10", "-dclinic"};
    if (!typed_drive) arguments.insert(arguments.begin(), "F");
    testing::RunOutcome outcome = FakeMachine::Run(arguments, typed_drive ? "F\r\n\r\n" : "\r\n");
    output_ = outcome.output;
    return outcome.exit_code;
  }

  std::string Stored(const std::string& name) {
    auto value = registry_.Get(kLm, kKey, name);
    return value ? value->data : "<absent>";
  }

  int RecordsStamped() {
    std::string content = files_.Content(kCompanyFile);
    EXPECT_EQ(content.substr(0, kRecordSize), Record(0));
    return static_cast<int>(IsStamped(content.substr(kRecordSize, kRecordSize))) +
           static_cast<int>(IsStamped(content.substr(2 * kRecordSize)));
  }

  bool DatabaseSet() {
    auto sections = profile_.Get(kSettingsFile);
    return sections && !sections->empty() && !sections->front().second.empty();
  }

  // The operations logged after the failing one.
  std::vector<std::string> LaterCalls(const FaultRow& row) {
    const auto& log = plan_.log();
    int seen = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i] == row.operation && ++seen == row.nth) {
        return {log.begin() + static_cast<std::ptrdiff_t>(i) + 1, log.end()};
      }
    }
    ADD_FAILURE() << row.operation << " was called " << seen << " times";
    return {};
  }

  std::string output_;
};

class RunFaultTest : public FullRunTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(RunFaultTest, EndsInTheReportWithNothingLostAndNothingAfterTheFailure) {
  const FaultRow& row = GetParam();
  plan_.Fail(row.operation, row.nth, row.code);
  int exit_code = Run(row.typed_drive);
  const std::string kind = row.kind;
  if (kind.empty()) {
    EXPECT_EQ(exit_code, 0);
    EXPECT_NE(output_.find("Any key to quit..."), std::string::npos) << output_;
  } else {
    EXPECT_EQ(exit_code, 1);
    std::string tail = std::string(".\r\n") + row.message + ".\r\n\r\n";
    EXPECT_NE(output_.find("Exception " + kind + " in module Vendrel.exe at "), std::string::npos)
        << output_;
    ASSERT_GE(output_.size(), tail.size()) << output_;
    EXPECT_EQ(output_.substr(output_.size() - tail.size()), tail) << output_;
    if (std::string(row.operation) != "ReadFile(stdin)") {
      EXPECT_EQ(output_.find("Any key to quit"), std::string::npos);
    }
    std::string later;
    for (const std::string& call : LaterCalls(row)) {
      if (!kCleanup.count(call)) later += (later.empty() ? "" : " ") + call;
    }
    EXPECT_EQ(later, row.then);
  }
  EXPECT_NE(output_.find(row.also_shown), std::string::npos) << output_;
  EXPECT_EQ(Stored("Drive"), std::string(row.drive) + '\0');
  EXPECT_EQ(Stored("PracticeRelief"), row.relief_set ? std::string("Y\0", 2) : "<absent>");
  if (row.records_stamped >= 0) {
    EXPECT_EQ(RecordsStamped(), row.records_stamped);
  }
  EXPECT_EQ(DatabaseSet(), row.database_set);
  EXPECT_EQ(registry_.open_handles(), 0);
  EXPECT_EQ(files_.open_files(), 0);
}

constexpr const char* kAbort = "Operation aborted";

const FaultRow kRows[] = {
    // The registry: the read step shows what it could read, the write
    // step stops at the first refused set.
    FaultRow{"RegOpenKeyExA", 1, code::kAccessDenied, "", "", "F:", true, 2, true,
             "  Drive:      \r\n"},
    // A key that does not open for the write step is passed over, as
    // for the company file's working dir.
    FaultRow{"RegOpenKeyExA", 2, code::kAccessDenied, "EAbort", kAbort, "C:", false, 0, false,
             "Error: could not open C:\\KOVA\\dromfile.dat  error 3.",
             "RegOpenKeyExA RegQueryValueExA(size) RegQueryValueExA(data) CreateFileA "
             "ReadFile(stdin)"},
    FaultRow{"RegOpenKeyExA", 3, code::kAccessDenied, "EAbort", kAbort, "F:", true, 0, false,
             "working dir: \r\nError: could not open dromfile.dat  error 3.",
             "CreateFileA ReadFile(stdin)"},
    FaultRow{"RegQueryValueExA(size)", 1, code::kAccessDenied, "", "", "F:", true, 2, true,
             "  Drive:      \r\n"},
    FaultRow{"RegQueryValueExA(data)", 1, code::kFileNotFound, "ERegistryException",
             "Failed to get data for 'Drive'", "C:", false, 0, false},
    FaultRow{"RegQueryValueExA(data)", 3, code::kMoreData, "ERegistryException",
             "Failed to get data for 'Drive'", "F:", true, 0, false},
    FaultRow{"RegSetValueExA", 1, code::kAccessDenied, "ERegistryException",
             "Failed to set data for 'Drive'", "C:", false, 0, false},
    FaultRow{"RegSetValueExA", 2, code::kAccessDenied, "ERegistryException",
             "Failed to set data for 'InstPath'", "F:", false, 0, false},
    FaultRow{"RegSetValueExA", 3, code::kDiskFull, "ERegistryException",
             "Failed to set data for 'LocalDrive'", "F:", false, 0, false},
    FaultRow{"RegSetValueExA", 4, code::kAccessDenied, "ERegistryException",
             "Failed to set data for 'PracticeRelief'", "F:", false, 0, false},
    // The read step's flush has nothing to lose; the write step's commits
    // its four values, and a failed one is reported, never taken for done.
    FaultRow{"RegFlushKey", 1, code::kAccessDenied, "", "", "F:", true, 2, true},
    FaultRow{"RegFlushKey", 2, code::kDiskFull, "ERegistryException",
             "Failed to set data for 'Drive'", "F:", true, 0, false},
    FaultRow{"RegCloseKey", 2, code::kInvalidHandle, "", "", "F:", true, 2, true},
    // The company file: an open failure waits for Enter, then aborts.
    FaultRow{"CreateFileA", 1, code::kFileNotFound, "EAbort", kAbort, "F:", true, 0, false,
             "Error: could not open F:\\KOVA\\dromfile.dat  error 2.  Program will abort.",
             "ReadFile(stdin)"},
    FaultRow{"CreateFileA", 1, code::kPathNotFound, "EAbort", kAbort, "F:", true, 0, false,
             "  error 3.  ", "ReadFile(stdin)"},
    FaultRow{"CreateFileA", 1, code::kAccessDenied, "EAbort", kAbort, "F:", true, 0, false,
             "  error 5.  ", "ReadFile(stdin)"},
    FaultRow{"CreateFileA", 1, code::kSharingViolation, "EAbort", kAbort, "F:", true, 0, false,
             "  error 32.  ", "ReadFile(stdin)"},
    FaultRow{"GetFileSize", 1, code::kAccessDenied, "EInOutError", "File access denied", "F:", true,
             0, false},
    FaultRow{"GetFileSize", 3, code::kInvalidHandle, "EInOutError", "I/O error 6", "F:", true, 2,
             false},
    FaultRow{"SetFilePointer", 1, code::kNegativeSeek, "EInOutError", "I/O error 131", "F:", true,
             0, false},
    FaultRow{"SetFilePointer", 2, code::kInvalidHandle, "EInOutError", "I/O error 6", "F:", true, 0,
             false},
    FaultRow{"ReadFile", 1, platform::kShortTransfer, "EInOutError", "Read beyond end of file",
             "F:", true, 0, false},
    FaultRow{"ReadFile", 2, code::kReadFault, "EInOutError", "I/O error 30", "F:", true, 1, false,
             "Updated TARVEL1: Name"},
    FaultRow{"WriteFile", 1, platform::kShortTransfer, "EInOutError", "Disk full", "F:", true, -1,
             false},
    FaultRow{"WriteFile", 1, code::kAccessDenied, "EInOutError", "File access denied", "F:", true,
             0, false},
    FaultRow{"WriteFile", 2, code::kDiskFull, "EInOutError", "I/O error 112", "F:", true, 1, false},
    FaultRow{"CloseHandle", 1, code::kInvalidHandle, "EInOutError", "I/O error 6", "F:", true, 2,
             false},
    // The settings file: only the write of the name counts.
    FaultRow{"WritePrivateProfileStringA(write)", 1, code::kAccessDenied, "EIniFileException",
             "Unable to write to F:\\kova\\kelvarini.dat", "F:", true, 2, false},
    FaultRow{"WritePrivateProfileStringA(delete)", 1, code::kAccessDenied, "", "", "F:", true, 2,
             true},
    FaultRow{"WritePrivateProfileStringA(flush)", 1, code::kAccessDenied, "", "", "F:", true, 2,
             true},
    // The console: a failed write ends the run where it stands; a failed
    // read at the prompt or at the end likewise.
    FaultRow{"WriteFile(stdout)", 1, code::kNoData, "EInOutError", "I/O error 232", "C:", false, 0,
             false},
    FaultRow{"WriteFile(stdout)", 4, code::kDiskFull, "EInOutError", "I/O error 112", "F:", true, 0,
             false},
    FaultRow{"ReadFile(stdin)", 1, code::kAccessDenied, "EInOutError", "File access denied",
             "C:", false, 0, false, "enter new value(s):", "", true},
    FaultRow{"ReadFile(stdin)", 1, code::kReadFault, "EInOutError", "I/O error 30", "F:", true, 2,
             true, "Setting Postgres DB: clinic"}};

INSTANTIATE_TEST_SUITE_P(EveryCall, RunFaultTest, ::testing::ValuesIn(kRows));

TEST_F(FullRunTest, EveryCallOfACompleteRunHasARow) {
  ASSERT_EQ(Run(false), 0) << output_;
  ASSERT_EQ(Run(true), 0) << output_;
  std::set<std::string> made(plan_.log().begin(), plan_.log().end());
  EXPECT_EQ(made.size(), 17U);  // every seam's calls are logged
  for (const std::string& operation : made) {
    EXPECT_TRUE(std::any_of(std::begin(kRows), std::end(kRows),
                            [&](const FaultRow& row) { return operation == row.operation; }))
        << operation << " has no row";
  }
}

}  // namespace
}  // namespace vendrel
