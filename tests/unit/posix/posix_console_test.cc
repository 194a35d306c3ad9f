#include "platform/posix/posix_console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vendrel::platform {
namespace {

struct EscapeCase {
  std::string bytes;
  std::string shown;
};

TEST(EscapeForTerminalTest, ControlBytesAreShownAndLineEndsKept) {
  const std::vector<EscapeCase> cases = {
      {"plain text 123", "plain text 123"},
      {"line\r\n", "line\r\n"},
      {"\x1b[2J", "^[[2J"},                    // clear screen
      {"\x1b]0;title\x07", "^[]0;title^G"},    // window title, bell
      {"over\rwrite\r\n", "over^Mwrite\r\n"},  // a lone CR would rewrite the line
      {"a\r\r\n", "a^M\r\n"},                  // only the CR next to the LF ends the line
      {"lone\nfeed", "lone^Jfeed"},            // a line end of the run is CR LF, never LF alone
      {std::string("nul\0x", 5), "nul^@x"},
      {"\t\x08\x1f", "^I^H^_"},
      {"del\x7f", "del^?"},
      {"\x80\x9bJ\x9f", "\\x80\\x9bJ\\x9f"},  // C1 controls, CSI among them
      {"\xa0\xe9\xff", "\xa0\xe9\xff"},       // Latin letters of the code page pass
      {"^M and \\x80 as typed", "^M and \\x80 as typed"},
      {"", ""},
  };
  for (const EscapeCase& test : cases) {
    bool held_cr = false;
    EXPECT_EQ(EscapeForTerminal(test.bytes, &held_cr), test.shown) << test.bytes;
    EXPECT_FALSE(held_cr) << test.bytes;
  }
}

TEST(EscapeForTerminalTest, ACrAtTheEndWaitsForTheNextWrite) {
  bool held_cr = false;
  EXPECT_EQ(EscapeForTerminal("value\r", &held_cr), "value");
  EXPECT_TRUE(held_cr);
  EXPECT_EQ(EscapeForTerminal("\nnext", &held_cr), "\r\nnext");
  EXPECT_FALSE(held_cr);

  EXPECT_EQ(EscapeForTerminal("value\r", &held_cr), "value");
  EXPECT_EQ(EscapeForTerminal("x\n", &held_cr), "^Mx^J");
  EXPECT_FALSE(held_cr);

  EXPECT_EQ(EscapeForTerminal("\r", &held_cr), "");
  EXPECT_EQ(EscapeForTerminal("", &held_cr), "^M");  // nothing followed: shown
  EXPECT_FALSE(held_cr);

  EXPECT_EQ(EscapeForTerminal("\r", &held_cr), "");
  EXPECT_EQ(EscapeForTerminal("\r", &held_cr), "^M");  // the second CR waits in turn
  EXPECT_TRUE(held_cr);
  EXPECT_EQ(EscapeForTerminal("\n", &held_cr), "\r\n");
}

std::string ReadAvailable(int fd) {
  std::string got;
  char buffer[256];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(count));
  }
}

const std::string kHostile = "name\x1b[2J\rtail\x9b\r\n";

TEST(PosixConsoleTest, APipeGetsTheBytesUnchanged) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  {
    PosixConsole console(fds[1], -1);
    EXPECT_EQ(console.OutputType(), OutputKind::kFileOrPipe);
    std::size_t written = 0;
    ASSERT_TRUE(console.WriteOutput(kHostile.data(), kHostile.size(), &written).ok());
    EXPECT_EQ(written, kHostile.size());
  }
  EXPECT_EQ(ReadAvailable(fds[0]), kHostile);
  close(fds[0]);
  close(fds[1]);
}

TEST(PosixConsoleTest, ATerminalGetsTheBytesEscaped) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  termios raw{};
  ASSERT_EQ(tcgetattr(terminal, &raw), 0);
  cfmakeraw(&raw);  // the line discipline passes what the program wrote
  ASSERT_EQ(tcsetattr(terminal, TCSANOW, &raw), 0);
  {
    PosixConsole console(terminal, -1);
    EXPECT_EQ(console.OutputType(), OutputKind::kConsole);
    std::size_t written = 0;
    ASSERT_TRUE(console.WriteOutput(kHostile.data(), kHostile.size() - 1, &written).ok());
    EXPECT_EQ(written, kHostile.size() - 1);  // every byte taken, the last CR held
    ASSERT_TRUE(console.WriteOutput("\n", 1, &written).ok());
    EXPECT_EQ(written, 1u);
  }
  ASSERT_EQ(fcntl(master, F_SETFL, O_NONBLOCK), 0);
  EXPECT_EQ(ReadAvailable(master), "name^[[2J^Mtail\\x9b\r\n");
  close(terminal);
  close(master);
}

}  // namespace
}  // namespace vendrel::platform
