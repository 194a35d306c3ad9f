#include "platform/posix/registry/reg_document.h"

#include <gtest/gtest.h>

namespace vendrel::platform {
namespace {

constexpr const char* kLm = "HKEY_LOCAL_MACHINE\\Software\\Tarvel Global";

RegValue Text(const std::string& text) { return RegValue{1, text + std::string(1, '\0')}; }

TEST(RegDocumentTest, ReadsEveryValueForm) {
  RegDocument doc = RegDocument::Parse(
      "REGEDIT4\n\n; a comment\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\n"
      "\"Drive\"=\"C:\\\\x \\\"q\\\"\"\n\"Count\"=dword:0000002a\n\"Blob\"=hex:01,ff,\\\n"
      "  10\n\"Exp\"=hex(2):25,00\n\"Raw\"=hex(1):41,42\n@=\"default\"\n\"Gone\"=-\n"
      "\"Empty\"=hex:\n");
  EXPECT_EQ(doc.Find(kLm, "drive"), Text("C:\\x \"q\""));
  EXPECT_EQ(doc.Find(kLm, "Count"), (RegValue{4, std::string("*\0\0\0", 4)}));
  EXPECT_EQ(doc.Find(kLm, "Blob"), (RegValue{3, "\x01\xff\x10"}));
  EXPECT_EQ(doc.Find(kLm, "Exp"), (RegValue{2, std::string("%\0", 2)}));
  EXPECT_EQ(doc.Find(kLm, "Raw"), (RegValue{1, "AB"}));
  EXPECT_EQ(doc.Find(kLm, ""), Text("default"));
  EXPECT_EQ(doc.Find(kLm, "Empty"), (RegValue{3, ""}));
  EXPECT_EQ(doc.ValuesOf(kLm).count("GONE"), 0u);
  EXPECT_TRUE(doc.HasKey("hkey_local_machine\\SOFTWARE\\tarvel global"));
  EXPECT_FALSE(doc.HasKey("HKEY_CURRENT_USER\\Software\\Tarvel Global"));
}

TEST(RegDocumentTest, AKeyExistsThroughItsSubKeys) {
  RegDocument doc = RegDocument::Parse("REGEDIT4\r\n[" + std::string(kLm) + "\\Sub]\r\n");
  EXPECT_TRUE(doc.HasKey(kLm));
  EXPECT_FALSE(doc.HasKey("HKEY_LOCAL_MACHINE\\Software\\Tarvel"));
  doc.Set(kLm, "Drive", Text("F:"));
  EXPECT_EQ(doc.Serialize(), "REGEDIT4\r\n[" + std::string(kLm) + "\\Sub]\r\n\r\n[" +
                                 std::string(kLm) + "]\r\n\"Drive\"=\"F:\"\r\n");
}

TEST(RegDocumentTest, SettingAValueRewritesItsLineAlone) {
  const std::string before =
      "REGEDIT4\r\n\r\n;keep me\r\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\r\n"
      "\"DRIVE\"=\"C:\"\r\n\"Blob\"=hex:01,\\\r\n   02\r\n\r\n[HKEY_CURRENT_USER\\X]\n"
      "\"Drive\"=\"keep\"";
  RegDocument doc = RegDocument::Parse(before);
  doc.Set(kLm, "Drive", Text("F:"));
  doc.Set(kLm, "New", Text("n"));
  EXPECT_EQ(doc.Serialize(),
            "REGEDIT4\r\n\r\n;keep me\r\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\r\n"
            "\"DRIVE\"=\"F:\"\r\n\"Blob\"=hex:01,\\\r\n   02\r\n\"New\"=\"n\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\X]\n\"Drive\"=\"keep\"");
}

TEST(RegDocumentTest, AFileWithoutAFinalLineEndGainsOneBeforeANewLine) {
  RegDocument doc = RegDocument::Parse("REGEDIT4\n[" + std::string(kLm) + "]\n\"A\"=\"1\"");
  doc.Set(kLm, "B", Text("2"));
  EXPECT_EQ(doc.Serialize(), "REGEDIT4\n[" + std::string(kLm) + "]\n\"A\"=\"1\"\n\"B\"=\"2\"\n");
}

TEST(RegDocumentTest, ControlCharactersAndOddTextsUseTheHexForm) {
  EXPECT_EQ(FormatValueLine("V", Text("a\r\nb")), "\"V\"=hex(1):61,0d,0a,62,00");
  EXPECT_EQ(FormatValueLine("V", RegValue{1, "ab"}), "\"V\"=hex(1):61,62");
  EXPECT_EQ(FormatValueLine("V", RegValue{1, std::string("a\0b\0", 4)}),
            "\"V\"=hex(1):61,00,62,00");
  EXPECT_EQ(FormatValueLine("V", Text("\xe9\\\"")), "\"V\"=\"\xe9\\\\\\\"\"");
  EXPECT_EQ(FormatValueLine("V", RegValue{4, std::string("\x01\x02\x03\x04", 4)}),
            "\"V\"=dword:04030201");
  EXPECT_EQ(FormatValueLine("V", RegValue{0x20, "\x7f"}), "\"V\"=hex(20):7f");
}

TEST(RegDocumentTest, EveryValueReadsBackAsWritten) {
  std::vector<RegValue> values = {Text(""),
                                  Text("plain"),
                                  Text("tab\there"),
                                  RegValue{1, ""},
                                  RegValue{3, ""},
                                  RegValue{2, std::string("%x%\0", 4)},
                                  RegValue{4, std::string(4, '\0')},
                                  RegValue{4, "abc"},
                                  RegValue{11, std::string(300, '\xff')}};
  RegDocument doc = RegDocument::Parse("REGEDIT4\n[" + std::string(kLm) + "]\n");
  for (std::size_t i = 0; i < values.size(); ++i) doc.Set(kLm, "v" + std::to_string(i), values[i]);
  RegDocument again = RegDocument::Parse(doc.Serialize());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(again.Find(kLm, "v" + std::to_string(i)), values[i]) << i;
  }
}

TEST(RegDocumentTest, MalformedStoresNameTheLine) {
  auto line_of = [](const std::string& text) -> std::size_t {
    try {
      RegDocument::Parse(text);
    } catch (const RegParseError& error) {
      return error.line();
    }
    return 0;
  };
  EXPECT_EQ(line_of(""), 1u);
  EXPECT_EQ(line_of("Windows Registry Editor Version 5.00\r\n"), 1u);
  EXPECT_EQ(line_of("REGEDIT4\n\"A\"=\"1\"\n"), 2u);
  EXPECT_EQ(line_of("REGEDIT4\n[K]\n\"A\"=\"1\n"), 3u);
  EXPECT_EQ(line_of("REGEDIT4\n[K]\n\n\"A\"=hex:1g\n"), 4u);
  EXPECT_EQ(line_of("REGEDIT4\n[K]\n\"A\"=dword:123456789\n"), 3u);
  EXPECT_EQ(line_of("REGEDIT4\n[K]\n\"A\"=\"a\\nb\"\n"), 3u);
  EXPECT_EQ(line_of("REGEDIT4\n[K\n"), 2u);
  EXPECT_EQ(line_of("REGEDIT4\n[-K]\n"), 2u);
  EXPECT_EQ(line_of("REGEDIT4\n[K]\nstray\n"), 3u);
  EXPECT_EQ(line_of("REGEDIT4\n[K]\n\"A\"\n"), 3u);
  EXPECT_EQ(line_of("REGEDIT4\n[K]\n\"A\"=\"1\" x\n"), 3u);
}

}  // namespace
}  // namespace vendrel::platform
