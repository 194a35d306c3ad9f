#include "platform/posix/registry/hive/code_page.h"

#include <gtest/gtest.h>

namespace vendrel::platform {
namespace {

using namespace std::string_literals;

TEST(CodePageTest, WesternEuropeanTextRoundTripsAsTheAFunctionsConvertIt) {
  std::unique_ptr<CodePage> page = CodePage::Make(1252);
  ASSERT_TRUE(page);
  // The euro sign is 0x80 in 1252 and U+20AC in the hive; 0x81 is left
  // undefined by 1252 and keeps its value, as Windows maps it.
  EXPECT_EQ(page->ToUtf16("C:\x80\x81\xE9"s), "C\0:\0\xAC\x20\x81\0\xE9\0"s);
  EXPECT_EQ(page->FromUtf16("C\0:\0\xAC\x20\x81\0\xE9\0"s), "C:\x80\x81\xE9"s);
  // A character 1252 cannot carry reads back as '?'; an odd last byte is
  // no character.
  EXPECT_EQ(page->FromUtf16("\x01\x01"
                            "A\0"
                            "\x03"s),
            "?A"s);
}

TEST(CodePageTest, OtherSingleByteCodePagesAndNoneElse) {
  std::unique_ptr<CodePage> cyrillic = CodePage::Make(1251);
  ASSERT_TRUE(cyrillic);
  EXPECT_EQ(cyrillic->ToUtf16("\xC6"s), "\x16\x04"s);  // Cyrillic capital ZHE
  std::unique_ptr<CodePage> central = CodePage::Make(1250);
  ASSERT_TRUE(central);
  EXPECT_EQ(central->FromUtf16("\x04\x01"s), "\xA5"s);  // A with ogonek
  // Double-byte code pages and numbers that name none are refused.
  EXPECT_FALSE(CodePage::Make(932));
  EXPECT_FALSE(CodePage::Make(99999));
}

}  // namespace
}  // namespace vendrel::platform
