// The REGEDIT4 store: any text is either refused with a parse error or
// read; a value set in it is written so that the store reads back with that
// value and every other value of the key as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <string>

#include "fuzz_check.h"
#include "platform/posix/registry/reg_document.h"

namespace {

using vendrel::platform::RegDocument;
using vendrel::platform::RegParseError;
using vendrel::platform::RegValue;

constexpr const char* kKeys[] = {"HKEY_LOCAL_MACHINE\\Software\\Tarvel Global",
                                 "HKEY_CURRENT_USER\\Software\\Tarvel Global",
                                 "HKEY_CURRENT_USER\\Software\\Other"};

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string key = kKeys[input.ConsumeIntegralInRange<int>(0, 2)];
  const std::string name = input.ConsumeRandomLengthString(40);
  RegValue value;
  value.type = input.ConsumeIntegralInRange<std::uint32_t>(0, 12);
  value.data = input.ConsumeRandomLengthString(64);
  const std::string text = input.ConsumeRemainingBytesAsString();
  if (!RegDocument::CanHoldName(name)) return 0;

  RegDocument document;
  try {
    document = RegDocument::Parse(text, key);
  } catch (const RegParseError&) {
    return 0;
  }
  FUZZ_CHECK(document.Serialize() == text);  // reading changes nothing
  std::map<std::string, RegValue> before = document.ValuesOf(key);
  document.Set(key, name, value);

  RegDocument reread;
  try {
    reread = RegDocument::Parse(document.Serialize(), key);
  } catch (const RegParseError&) {
    FUZZ_CHECK(!"what was written does not read back");
  }
  FUZZ_CHECK(reread.Find(key, name) == value);
  before[Upper(name)] = value;
  FUZZ_CHECK(reread.ValuesOf(key) == before);
  return 0;
}
