// The command-line splitter: no word keeps a quote or a NUL, and words
// quoted again and joined split back into the same words.
#include <cstdint>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> words = vendrel::SplitCommandLine(line);
  FUZZ_CHECK(words.size() <= line.size());
  bool any_empty = false;
  std::string joined;
  for (const std::string& word : words) {
    FUZZ_CHECK(word.find('"') == std::string::npos);
    FUZZ_CHECK(word.find('\0') == std::string::npos);
    any_empty = any_empty || word.empty();
    joined += "\"" + word + "\" ";
  }
  // An empty word only arises from a lone quote at the end; quoted again
  // it would be the skipped pair.
  if (!any_empty) FUZZ_CHECK(vendrel::SplitCommandLine(joined) == words);
  return 0;
}
