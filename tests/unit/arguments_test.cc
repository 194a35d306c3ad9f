#include "app/arguments.h"

#include <gtest/gtest.h>

namespace vendrel {
namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLineTest, SeparatorsQuotesAndTouchingPieces) {
  EXPECT_EQ(SplitCommandLine("vendrel F -p\"Y N\""), (Words{"vendrel", "F", "-pY N"}));
  EXPECT_EQ(SplitCommandLine("  a\t\x01 b\x1f"
                             "\x20"
                             "c  "),
            (Words{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d e"), (Words{"ab cd", "e"}));
  EXPECT_EQ(SplitCommandLine("\"unclosed quote"), (Words{"unclosed quote"}));
  EXPECT_EQ(SplitCommandLine("no \"\"escape\\\" here"), (Words{"no", "escape\\ here"}));
}

TEST(SplitCommandLineTest, PairsOfQuotesAtAWordStartAreSkipped) {
  EXPECT_EQ(SplitCommandLine("x \"\" y"), (Words{"x", "y"}));
  EXPECT_EQ(SplitCommandLine("x \"\"\"\"y"), (Words{"x", "y"}));
  EXPECT_EQ(SplitCommandLine("x \"\""), (Words{"x"}));
  EXPECT_EQ(SplitCommandLine("x y\"\""), (Words{"x", "y"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
}

TEST(SplitCommandLineTest, BytesAbove127AreNotSeparators) {
  EXPECT_EQ(SplitCommandLine("p \xe9\xa0 \xff"), (Words{"p", "\xe9\xa0", "\xff"}));
}

TEST(ScanArgumentsTest, TheFullExampleLine) {
  RunOptions options = ScanArguments({"F", "-v6/7", "-dclinic", "-pY", "-w2.10"});
  EXPECT_EQ(options.drive_text, "F");
  EXPECT_EQ(options.version_argument, "-v6/7");
  EXPECT_EQ(options.database_name, "clinic");
  EXPECT_EQ(options.practice_relief, "Y");
  EXPECT_EQ(options.version_text, "2.10");
  EXPECT_EQ(ChooseHive(options), platform::RootKey::kLocalMachine);
}

TEST(ScanArgumentsTest, LaterOptionsReplaceEarlierAndEmptyOptionsClear) {
  RunOptions options = ScanArguments({"-dfirst", "-d", "-w12345678901234", "-pA", "-pB"});
  EXPECT_EQ(options.database_name, "");
  EXPECT_EQ(options.version_text, "1234567890");
  EXPECT_EQ(options.practice_relief, "B");
  EXPECT_EQ(options.drive_text, "");
}

TEST(ScanArgumentsTest, OptionLettersAreCaseSensitive) {
  RunOptions options = ScanArguments({"-V6", "/dname"});
  EXPECT_EQ(options.version_argument, "");
  EXPECT_EQ(options.database_name, "");
  EXPECT_EQ(options.drive_text, "/dname");
}

TEST(ScanArgumentsTest, LongArgumentsKeep255Bytes) {
  RunOptions options = ScanArguments({std::string(300, 'x'), "-d" + std::string(300, 'n')});
  EXPECT_EQ(options.drive_text, std::string(255, 'x'));
  EXPECT_EQ(options.database_name, std::string(255, 'n'));
}

TEST(FinishDriveTextTest, ArgumentOneReplacesTheScannedDrive) {
  Words arguments{"-v6", "F"};
  RunOptions options = ScanArguments(arguments);
  EXPECT_TRUE(FinishDriveText(options, arguments));
  EXPECT_EQ(options.drive_text, "-v6");

  RunOptions none = ScanArguments({});
  EXPECT_FALSE(FinishDriveText(none, {}));
}

TEST(ChooseHiveTest, A6OrA7AnywhereMeansTheMachineHive) {
  auto hive = [](const std::string& argument) { return ChooseHive(ScanArguments({argument})); };
  EXPECT_EQ(hive("-v6/7"), platform::RootKey::kLocalMachine);
  EXPECT_EQ(hive("-v7"), platform::RootKey::kLocalMachine);
  EXPECT_EQ(hive("-v16"), platform::RootKey::kLocalMachine);
  EXPECT_EQ(hive("-v5"), platform::RootKey::kCurrentUser);
  EXPECT_EQ(hive("-v"), platform::RootKey::kCurrentUser);
  EXPECT_EQ(hive("-vnew"), platform::RootKey::kCurrentUser);
  EXPECT_EQ(ChooseHive(RunOptions{}), platform::RootKey::kCurrentUser);
}

}  // namespace
}  // namespace vendrel
