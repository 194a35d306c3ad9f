#include "app/console_stream.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "platform/fake/faulty_console.h"
#include "platform/fake/memory_console.h"

namespace vendrel {
namespace {

using platform::MemoryConsole;

TEST(ConsoleStreamTest, FileOutputGoesOutInBlocksOf128) {
  MemoryConsole console;
  ConsoleStream out(console);
  out.WriteLine(std::string(100, 'a'));
  EXPECT_TRUE(console.output().empty());
  out.WriteLine(std::string(200, 'b'));
  EXPECT_EQ(console.write_sizes(), (std::vector<std::size_t>{128, 128}));
  out.Flush();
  EXPECT_EQ(console.write_sizes().back(), 304u - 256u);
  EXPECT_EQ(console.output(), std::string(100, 'a') + "\r\n" + std::string(200, 'b') + "\r\n");
}

TEST(ConsoleStreamTest, PromptFlushesWithoutALineEnd) {
  MemoryConsole console;
  ConsoleStream out(console);
  out.Prompt("enter new value(s):");
  EXPECT_EQ(console.output(), "enter new value(s):");
}

TEST(ConsoleStreamTest, ConsoleOutputIsWrittenAtOnce) {
  MemoryConsole console("", /*is_console=*/true);
  ConsoleStream out(console);
  out.WriteLine("x");
  EXPECT_EQ(console.output(), "x\r\n");
}

TEST(ConsoleStreamTest, ReadLineRules) {
  std::string typed = "one\r\ntwo\rthree\n" + std::string(300, 'z') + "\r\nafter\nlast";
  MemoryConsole console(typed);
  console.set_read_chunk(7);  // lines arrive split across reads
  ConsoleStream in(console);
  EXPECT_EQ(in.ReadLine(), "one");
  EXPECT_EQ(in.ReadLine(), "twothree");
  EXPECT_EQ(in.ReadLine(), std::string(255, 'z'));
  EXPECT_EQ(in.ReadLine(), "after");
  EXPECT_EQ(in.ReadLine(), "last");
  EXPECT_EQ(in.ReadLine(), "");
  EXPECT_EQ(in.ReadLine(), "");
}

TEST(ConsoleStreamTest, FailedWriteIsAnInOutErrorWithTheCode) {
  platform::FaultPlan plan;
  plan.Fail("WriteFile(stdout)", 1, kNoData);
  MemoryConsole memory;
  platform::FaultyConsole console(memory, plan);
  ConsoleStream out(console);
  out.WriteLine("held");
  try {
    out.Flush();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kInOut);
    EXPECT_EQ(error.message(), "I/O error 232");
  }
}

TEST(ConsoleStreamTest, FailedReadIsAnInOutErrorButABrokenPipeIsTheEnd) {
  platform::FaultPlan plan;
  plan.Fail("ReadFile(stdin)", 1, kBrokenPipe);
  plan.Fail("ReadFile(stdin)", 2, kAccessDenied);
  plan.Fail("ReadFile(stdin)", 3, kInvalidHandle);
  MemoryConsole memory("never read\n");
  platform::FaultyConsole console(memory, plan);
  ConsoleStream in(console);
  EXPECT_EQ(in.ReadLine(), "");
  try {
    ConsoleStream again(console);
    again.ReadLine();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kInOut);
    EXPECT_EQ(error.message(), "File access denied");
  }
  // No standard input at all reads as its end.
  ConsoleStream without(console);
  EXPECT_EQ(without.ReadLine(), "");
}

}  // namespace
}  // namespace vendrel
