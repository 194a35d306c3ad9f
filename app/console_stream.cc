#include "app/console_stream.h"

#include "base/error.h"

namespace vendrel {
namespace {

constexpr std::size_t kReadChunk = 4096;

}  // namespace

ConsoleStream::ConsoleStream(platform::Console& console)
    : console_(console), immediate_(console.OutputType() == platform::OutputKind::kConsole) {}

void ConsoleStream::WriteLine(std::string_view text) {
  if (immediate_) {
    // One write, so that a line reaches the console whole.
    const std::string line = std::string(text) + "\r\n";
    WriteThrough(line.data(), line.size());
    return;
  }
  Write(text);
  Write("\r\n");
}

void ConsoleStream::Prompt(std::string_view text) {
  Write(text);
  Flush();
}

void ConsoleStream::Write(std::string_view text) {
  if (immediate_) {
    WriteThrough(text.data(), text.size());
    return;
  }
  pending_output_.append(text);
  const std::size_t full = pending_output_.size() - pending_output_.size() % kBlockSize;
  std::size_t written = 0;
  try {
    for (; written < full; written += kBlockSize) {
      WriteThrough(pending_output_.data() + written, kBlockSize);
    }
  } catch (const Error&) {
    pending_output_.erase(0, written);
    throw;
  }
  pending_output_.erase(0, full);
}

void ConsoleStream::Flush() {
  if (pending_output_.empty()) return;
  std::string held;
  held.swap(pending_output_);
  WriteThrough(held.data(), held.size());
}

void ConsoleStream::WriteThrough(const char* data, std::size_t size) {
  while (size > 0) {
    std::size_t written = 0;
    Result wrote = console_.WriteOutput(data, size, &written);
    if (!wrote.ok()) throw InOutError(wrote.code(), RaiseSite::kConsoleWrite);
    // A write that makes no progress is a full disk, as the runtime reports it.
    if (written == 0) throw InOutError(101, RaiseSite::kConsoleWrite);
    data += written;
    size -= written;
  }
}

bool ConsoleStream::FillInput() {
  if (input_ended_) return false;
  input_.erase(0, input_pos_);
  input_pos_ = 0;
  std::size_t old_size = input_.size();
  input_.resize(old_size + kReadChunk);
  std::size_t read = 0;
  WinCode code = console_.ReadInput(&input_[old_size], kReadChunk, &read).code();
  input_.resize(old_size + (code == kSuccess ? read : 0));
  // The writer went away, or there is no standard input at all (a
  // deployment tool may start the program with none): the end of input,
  // so that the final prompt ends the run instead of failing it.
  if (code == kBrokenPipe || code == kHandleEof || code == kInvalidHandle) code = kSuccess;
  if (code != kSuccess) throw InOutError(code, RaiseSite::kConsoleRead);
  if (read == 0) input_ended_ = true;
  return read > 0;
}

std::string ConsoleStream::ReadLine() {
  std::string line;
  for (;;) {
    if (input_pos_ >= input_.size() && !FillInput()) return line;
    while (input_pos_ < input_.size()) {
      char c = input_[input_pos_++];
      if (c == '\n') return line;
      if (c == '\r') continue;
      if (line.size() < kLineMax) line += c;
    }
  }
}

}  // namespace vendrel
