// The read-line primitive over input handed out in pieces of any size:
// the same lines as the input read in one piece, none longer than 255
// bytes, no CR or LF kept, and an empty line for ever after the end.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/console_stream.h"
#include "fuzz_check.h"
#include "platform/fake/memory_console.h"

namespace {

std::vector<std::string> LinesOf(const std::string& input) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : input) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r' && line.size() < vendrel::ConsoleStream::kLineMax) {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::size_t chunk = provider.ConsumeIntegralInRange<std::size_t>(1, 600);
  const std::string input = provider.ConsumeRemainingBytesAsString();
  vendrel::platform::MemoryConsole console(input);
  console.set_read_chunk(chunk);
  vendrel::ConsoleStream stream(console);
  const std::vector<std::string> expected = LinesOf(input);
  for (const std::string& want : expected) {
    const std::string line = stream.ReadLine();
    FUZZ_CHECK(line.size() <= vendrel::ConsoleStream::kLineMax);
    FUZZ_CHECK(line == want);
  }
  FUZZ_CHECK(stream.ReadLine().empty());
  FUZZ_CHECK(stream.ReadLine().empty());
  FUZZ_CHECK(console.input_left() == 0);
  return 0;
}
