#include "app/failure_report.h"

#include <gtest/gtest.h>

namespace vendrel {
namespace {

TEST(FailureReportTest, KindModuleSiteAndMessageWithItsStop) {
  Error error(ErrorKind::kRegistry, "Invalid data type for 'InstPath'",
              RaiseSite::kRegistryInvalidType);
  EXPECT_EQ(FormatFailureReport(error, "Vendrel.exe"),
            "Exception ERegistryException in module Vendrel.exe at 0040A1C4.\r\n"
            "Invalid data type for 'InstPath'.\r\n\r\n");
}

TEST(FailureReportTest, NoSecondStopAndNoneForAnEmptyMessage) {
  Error stopped(ErrorKind::kAbort, "Operation aborted.", RaiseSite::kCompanyOpenAbort);
  EXPECT_NE(FormatFailureReport(stopped, "m").find("aborted.\r\n"), std::string::npos);
  EXPECT_EQ(FormatFailureReport(stopped, "m").find("aborted.."), std::string::npos);
  Error empty(ErrorKind::kInOut, "", RaiseSite::kCompanyIo);
  EXPECT_EQ(FormatFailureReport(empty, "m"),
            "Exception EInOutError in module m at 0040C14F.\r\n\r\n\r\n");
}

TEST(FailureReportTest, ModuleNameIsThePathsLastPart) {
  EXPECT_EQ(ModuleName("C:\\Program Files\\Tarvel\\Vendrel.exe"), "Vendrel.exe");
  EXPECT_EQ(ModuleName("/usr/local/bin/vendrel"), "vendrel");
  EXPECT_EQ(ModuleName("vendrel"), "vendrel");
}

TEST(InOutMessageTest, TheKnownCodesAndTheRest) {
  EXPECT_EQ(InOutMessage(2), "File not found");
  EXPECT_EQ(InOutMessage(3), "Invalid filename");
  EXPECT_EQ(InOutMessage(4), "Too many open files");
  EXPECT_EQ(InOutMessage(5), "File access denied");
  EXPECT_EQ(InOutMessage(100), "Read beyond end of file");
  EXPECT_EQ(InOutMessage(101), "Disk full");
  EXPECT_EQ(InOutMessage(106), "Invalid numeric input");
  EXPECT_EQ(InOutMessage(112), "I/O error 112");
}

}  // namespace
}  // namespace vendrel
