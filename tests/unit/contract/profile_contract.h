// What every ProfileWriter does to sections and entries. Each implementation
// instantiates the suite with an Impl that offers:
//   ProfileWriter& writer();
//   std::string File();                 the settings file's name
//   void MakeFolder();                  creates the file's folder
//   void Prepare(const Sections&);         writes a file holding these
//   std::optional<Sections> Read();     the file as sections, none if missing
#ifndef VENDREL_TESTS_UNIT_CONTRACT_PROFILE_CONTRACT_H_
#define VENDREL_TESTS_UNIT_CONTRACT_PROFILE_CONTRACT_H_

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/profile.h"
#include "support/result_printer.h"

namespace vendrel::platform {

using Sections =
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;

// A plain reading of an INI text into sections and entries, blank lines and
// comments left out.
inline Sections ReadSections(const std::string& text) {
  Sections sections;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      sections.push_back({line.substr(1, line.find(']') - 1), {}});
    } else if (!sections.empty()) {
      std::size_t equals = line.find('=');
      sections.back().second.emplace_back(
          line.substr(0, equals), equals == std::string::npos ? "" : line.substr(equals + 1));
    }
  }
  return sections;
}

inline std::string WriteSections(const Sections& sections) {
  std::string text;
  for (const auto& [name, entries] : sections) {
    text += "[" + name + "]\r\n";
    for (const auto& [key, value] : entries) text += key + "=" + value + "\r\n";
  }
  return text;
}

template <typename Impl>
class ProfileContract : public ::testing::Test {
 protected:
  Result Write(const char* section, const char* key, const char* value) {
    return impl_.writer().WriteEntry(std::string(section), std::string(key), std::string(value),
                                     impl_.File());
  }
  Result Delete(const char* section, const char* key) {
    return impl_.writer().WriteEntry(std::string(section), std::string(key), std::nullopt,
                                     impl_.File());
  }
  Impl impl_;
};

TYPED_TEST_SUITE_P(ProfileContract);

TYPED_TEST_P(ProfileContract, AWriteNeedsTheFolderAndCreatesTheFile) {
  EXPECT_EQ(this->Write("POSTGRES_SERVER", "database", "x"), kPathNotFound);
  EXPECT_FALSE(this->impl_.Read());
  this->impl_.MakeFolder();
  EXPECT_EQ(this->Write("POSTGRES_SERVER", "database", "x"), kSuccess);
  EXPECT_EQ(this->impl_.Read(), (Sections{{"POSTGRES_SERVER", {{"database", "x"}}}}));
}

TYPED_TEST_P(ProfileContract, WritesAndDeletesMatchWithoutRegardToCase) {
  this->impl_.Prepare({{"General", {{"langver", "9"}}},
                       {"postgres_server", {{"Host", "db"}, {"LangVer", "1"}, {"DATABASE", "old"}}},
                       {"Other", {{"ccffl", "2"}}}});
  EXPECT_EQ(this->Write("POSTGRES_SERVER", "database", "new"), kSuccess);
  EXPECT_EQ(this->Write("POSTGRES_SERVER", "port", "5432"), kSuccess);
  EXPECT_EQ(this->Write("Added", "k", "v"), kSuccess);
  this->Delete("POSTGRES_SERVER", "langver").IgnoreFailure();
  this->Delete("POSTGRES_SERVER", "ccffl").IgnoreFailure();
  this->Delete("Missing", "k").IgnoreFailure();
  // A flush always answers a failure, as the platform documents it.
  EXPECT_FALSE(this->impl_.writer()
                   .WriteEntry(std::nullopt, std::nullopt, std::nullopt, this->impl_.File())
                   .ok());
  EXPECT_EQ(this->impl_.Read(),
            (Sections{{"General", {{"langver", "9"}}},
                      {"postgres_server", {{"Host", "db"}, {"DATABASE", "new"}, {"port", "5432"}}},
                      {"Other", {{"ccffl", "2"}}},
                      {"Added", {{"k", "v"}}}}));
}

REGISTER_TYPED_TEST_SUITE_P(ProfileContract, AWriteNeedsTheFolderAndCreatesTheFile,
                            WritesAndDeletesMatchWithoutRegardToCase);

}  // namespace vendrel::platform

#endif  // VENDREL_TESTS_UNIT_CONTRACT_PROFILE_CONTRACT_H_
