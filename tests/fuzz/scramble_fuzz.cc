// The scrambler and its decoder: every name that fits comes back, from any
// generator state, and nothing longer than 255 characters is produced.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "scramble/scramble_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool fresh = input.ConsumeBool();
  vendrel::ScrambleGenerator generator;
  if (!fresh) generator.state = input.ConsumeIntegral<std::uint32_t>();
  const std::string name = input.ConsumeRemainingBytesAsString().substr(0, 255);

  const std::string stored = vendrel::ScrambleName(name, 'E', generator);
  FUZZ_CHECK(stored.size() <= 255);
  // Two fillers of at most six characters and two separators around it.
  const std::size_t fits = fresh ? vendrel::kScrambleNameMax : 255 - 14;
  if (name.size() <= fits) {
    vendrel::ScrambleGenerator unused;
    FUZZ_CHECK(vendrel::ScrambleName(stored, 'D', unused) == name);
  }
  return 0;
}
