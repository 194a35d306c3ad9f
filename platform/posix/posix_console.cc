#include "platform/posix/posix_console.h"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/win_error_map.h"

namespace vendrel::platform {
namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstC1 = 0x80;
constexpr unsigned char kLastC1 = 0x9F;
constexpr unsigned char kCaretOffset = 0x40;  // ^@ is 0x00, ^[ is 0x1B, ^? is 0x7F

void AppendEscaped(unsigned char byte, std::string* out) {
  if (byte < 0x20 || byte == kDelete) {
    *out += '^';
    *out += static_cast<char>(byte ^ kCaretOffset);
  } else if (byte >= kFirstC1 && byte <= kLastC1) {
    constexpr char kHex[] = "0123456789abcdef";
    *out += "\\x";
    *out += kHex[byte >> 4];
    *out += kHex[byte & 0x0F];
  } else {
    *out += static_cast<char>(byte);
  }
}

}  // namespace

std::string EscapeForTerminal(std::string_view bytes, bool* held_cr) {
  std::string out;
  out.reserve(bytes.size() + 2);
  std::size_t i = 0;
  if (*held_cr) {
    *held_cr = false;
    if (!bytes.empty() && bytes[0] == '\n') {
      out += "\r\n";
      i = 1;
    } else {
      out += "^M";
    }
  }
  for (; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      if (i + 1 == bytes.size()) {
        *held_cr = true;
        break;
      }
      if (bytes[i + 1] == '\n') {
        out += "\r\n";
        ++i;
        continue;
      }
    }
    AppendEscaped(static_cast<unsigned char>(bytes[i]), &out);
  }
  return out;
}

PosixConsole::PosixConsole(int output_fd, int input_fd)
    : output_fd_(output_fd), input_fd_(input_fd), escape_(isatty(output_fd) == 1) {}

PosixConsole::~PosixConsole() {
  if (held_cr_) static_cast<void>(WriteAll("^M"));
}

OutputKind PosixConsole::OutputType() {
  return isatty(output_fd_) == 1 ? OutputKind::kConsole : OutputKind::kFileOrPipe;
}

Result PosixConsole::WriteOutput(const char* data, std::size_t size, std::size_t* written) {
  *written = 0;
  if (!escape_) {
    for (;;) {
      ssize_t result = write(output_fd_, data, size);
      if (result >= 0) {
        *written = static_cast<std::size_t>(result);
        return kSuccess;
      }
      if (errno != EINTR) return WinCodeFromErrno(errno);
    }
  }
  // The escaped text is longer than what it shows, so a count of it would
  // mean nothing to the caller: all of it goes, or the write fails.
  const std::string escaped = EscapeForTerminal(std::string_view(data, size), &held_cr_);
  Result wrote = WriteAll(escaped);
  if (wrote.ok()) *written = size;
  return wrote;
}

Result PosixConsole::WriteAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t result = write(output_fd_, bytes.data() + done, bytes.size() - done);
    if (result < 0) {
      if (errno == EINTR) continue;
      return WinCodeFromErrno(errno);
    }
    done += static_cast<std::size_t>(result);
  }
  return kSuccess;
}

Result PosixConsole::ReadInput(char* buffer, std::size_t capacity, std::size_t* read_count) {
  *read_count = 0;
  for (;;) {
    ssize_t result = read(input_fd_, buffer, capacity);
    if (result >= 0) {
      *read_count = static_cast<std::size_t>(result);
      return kSuccess;
    }
    if (errno != EINTR) return WinCodeFromErrno(errno);
  }
}

}  // namespace vendrel::platform
