#include "platform/posix/profile/ini_document.h"

#include <gtest/gtest.h>

namespace vendrel::platform {
namespace {

struct Edit {
  bool write;  // write (section, key, value) or delete (section, key)
  const char* section;
  const char* key;
  const char* value;
};

struct IniCase {
  const char* name;
  const char* before;
  std::vector<Edit> edits;
  const char* after;
};

void PrintTo(const IniCase& c, std::ostream* out) { *out << c.name; }

class IniDocumentTest : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniDocumentTest, EditsTouchOnlyTheirOwnLines) {
  const IniCase& c = GetParam();
  std::string text = c.before;
  for (const Edit& edit : c.edits) {
    if (edit.write) {
      IniWrite(&text, {edit.section, edit.key}, edit.value);
    } else {
      IniDelete(&text, {edit.section, edit.key});
    }
  }
  EXPECT_EQ(text, c.after);
}

Edit W(const char* section, const char* key, const char* value) {
  return {true, section, key, value};
}
Edit D(const char* section, const char* key) { return {false, section, key, nullptr}; }

INSTANTIATE_TEST_SUITE_P(
    Table, IniDocumentTest,
    ::testing::Values(
        IniCase{"new file", "", {W("S", "k", "v")}, "[S]\r\nk=v\r\n"},
        IniCase{"value replaced, spelling and blanks kept",
                "[s]\r\n  KEY  =  old  \r\n",
                {W("S", "key", "new")},
                "[s]\r\n  KEY  =  new\r\n"},
        IniCase{
            "key without equals gains one", "[S]\nflag\n", {W("S", "FLAG", "1")}, "[S]\nflag=1\n"},
        IniCase{"new key after the last non-blank line, comments included",
                "[S]\r\na=1\r\n;c\r\n\r\n\r\n[T]\r\n",
                {W("S", "b", "2")},
                "[S]\r\na=1\r\n;c\r\nb=2\r\n\r\n\r\n[T]\r\n"},
        IniCase{"section names ignore case and blanks, Ctrl-Z too",
                "[ s \x1a]\r\na=1\r\n",
                {W("S", "a", "2")},
                "[ s \x1a]\r\na=2\r\n"},
        IniCase{"CR-only file keeps its line end",
                "[X]\rk=v\r",
                {W("S", "a", "1")},
                "[X]\rk=v\r[S]\ra=1\r"},
        IniCase{"mixed line ends: new lines take the first line's",
                "[S]\na=1\r\nb=2\r",
                {W("S", "c", "3")},
                "[S]\na=1\r\nb=2\rc=3\n"},
        IniCase{"no final line end", "[S]\r\na=1", {W("S", "b", "2")}, "[S]\r\na=1\r\nb=2\r\n"},
        IniCase{"keys before the first section are not in it",
                "database=x\r\n[S]\r\n",
                {W("S", "database", "y")},
                "database=x\r\n[S]\r\ndatabase=y\r\n"},
        IniCase{"duplicate keys: the first is written, the first is deleted",
                "[S]\r\nk=1\r\nk=2\r\n",
                {W("S", "k", "3"), D("S", "K")},
                "[S]\r\nk=2\r\n"},
        IniCase{"delete searches every matching section",
                "[S]\r\na=1\r\n[T]\r\nk=1\r\n[s]\r\nk=2\r\n",
                {D("S", "k")},
                "[S]\r\na=1\r\n[T]\r\nk=1\r\n[s]\r\n"},
        IniCase{"delete of an absent key or section changes nothing",
                "[S]\r\na=1\r\n",
                {D("S", "b"), D("T", "a")},
                "[S]\r\na=1\r\n"},
        IniCase{"comment lines are never keys",
                "[S]\r\n;k=1\r\n",
                {D("S", ";k"), D("S", "k")},
                "[S]\r\n;k=1\r\n"},
        IniCase{"byte-order mark before the first section",
                "\xEF\xBB\xBF[S]\r\nk=1\r\n",
                {W("S", "k", "2")},
                "\xEF\xBB\xBF[S]\r\nk=2\r\n"},
        // Found by fuzzing: a '[' inside a line, after a blank, was taken
        // for the start of a header while sections were passed over.
        IniCase{"a bracket inside a key line opens no section",
                "[S]\r\nk=[ [T]\r\n",
                {W("T", "a", "1")},
                "[S]\r\nk=[ [T]\r\n[T]\r\na=1\r\n"},
        IniCase{"bytes above 127 pass through",
                "[S]\r\n\xe9=\xff\r\n",
                {W("S", "d", "\xe0")},
                "[S]\r\n\xe9=\xff\r\nd=\xe0\r\n"}));

TEST(IniDocumentTest, NothingToDeleteIsNoChange) {
  std::string text = "[S]\r\na=1\r\n";
  EXPECT_FALSE(IniDelete(&text, {"S", "b"}));
  EXPECT_EQ(text, "[S]\r\na=1\r\n");
  std::string empty;
  EXPECT_FALSE(IniDelete(&empty, {"S", "b"}));
}

TEST(IniDocumentUtf16Test, RecognisesEitherOrderWithOrWithoutAMark) {
  using namespace std::string_literals;
  EXPECT_EQ(Utf16Kind("\xFF\xFE[\0S\0"s), "UTF-16 text (little-endian, with a byte-order mark)");
  EXPECT_EQ(Utf16Kind("\xFE\xFF\0[\0S"s), "UTF-16 text (big-endian, with a byte-order mark)");
  EXPECT_EQ(Utf16Kind("[\0S\0]\0"s), "UTF-16 text (little-endian, without a byte-order mark)");
  EXPECT_EQ(Utf16Kind("\0[\0S\0]"s), "UTF-16 text (big-endian, without a byte-order mark)");
  // Single-byte text, a file of zeros, and a lone byte are not UTF-16.
  EXPECT_EQ(Utf16Kind("[S]\r\nk=v\r\n"), std::nullopt);
  EXPECT_EQ(Utf16Kind("\0\0\0\0"s), std::nullopt);
  EXPECT_EQ(Utf16Kind("["), std::nullopt);
  EXPECT_EQ(Utf16Kind(""), std::nullopt);
}

}  // namespace
}  // namespace vendrel::platform
