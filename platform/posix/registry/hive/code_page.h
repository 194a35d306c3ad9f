// The ANSI code page of a Windows installation: how the single-byte text of
// the A functions (RegQueryValueExA, RegSetValueExA) becomes the UTF-16 a
// hive stores, and back. Single-byte code pages only (1250 to 1258, 874,
// 437 and the like); the tables come from the C library's converters.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_CODE_PAGE_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_CODE_PAGE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vendrel::platform {

class CodePage {
 public:
  // The code page numbered so, or none when this system cannot convert it
  // or it is not a single-byte one.
  static std::unique_ptr<CodePage> Make(int number);

  int number() const { return number_; }

  // Each byte becomes one UTF-16LE unit, as MultiByteToWideChar maps it
  // (a byte the code page leaves undefined keeps its value).
  std::string ToUtf16(std::string_view text) const;
  // Each UTF-16LE unit becomes one byte; one the code page cannot carry
  // becomes '?', as WideCharToMultiByte's default character. A last odd
  // byte is dropped.
  std::string FromUtf16(std::string_view utf16) const;

 private:
  explicit CodePage(int number) : number_(number) {}

  int number_;
  std::array<std::uint16_t, 256> to_unicode_{};
  std::unique_ptr<std::int16_t[]> from_unicode_;  // 65536 entries, -1 for none
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_CODE_PAGE_H_
