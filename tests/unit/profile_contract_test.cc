// What every ProfileWriter does to sections and entries, checked on the fake
// and on the Linux writer alike; the Linux file is read back with the fake's
// notion of sections and entries.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "platform/fake/memory_profile.h"
#include "platform/posix/ini_document.h"
#include "platform/posix/posix_profile.h"
#include "test_dir.h"

namespace vendrel::platform {
namespace {

using Sections = MemoryProfile::Sections;
constexpr const char* kFile = "F:\\kova\\kelvarini.dat";

// A plain reading of an INI text into sections and entries, for comparing.
Sections ReadSections(const std::string& text) {
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

struct MemoryImpl {
  MemoryProfile profile;
  ProfileWriter& writer() { return profile; }
  void Seed(const Sections& sections) { profile.Put(kFile, sections); }
  void MakeFolder() { profile.AddFolder("F:\\kova"); }
  std::optional<Sections> Read() { return profile.Get(kFile); }
};

struct PosixImpl {
  testing::TestDir dir;
  DriveMap drives{dir.path()};
  PosixProfileWriter profile{drives};
  PosixImpl() { std::filesystem::create_directories(dir / "f:"); }
  ProfileWriter& writer() { return profile; }
  void MakeFolder() { std::filesystem::create_directories(dir / "f:/kova"); }
  void Seed(const Sections& sections) {
    MakeFolder();
    std::string text;
    for (const auto& [name, entries] : sections) {
      text += "[" + name + "]\r\n";
      for (const auto& [key, value] : entries) text += key + "=" + value + "\r\n";
    }
    testing::WriteFile(dir / "f:/kova/kelvarini.dat", text);
  }
  std::optional<Sections> Read() {
    if (!std::filesystem::exists(dir / "f:/kova/kelvarini.dat")) return std::nullopt;
    return ReadSections(testing::ReadFile(dir / "f:/kova/kelvarini.dat"));
  }
};

template <typename Impl>
class ProfileContractTest : public ::testing::Test {
 protected:
  bool Write(const char* section, const char* key, const char* value) {
    return impl_.writer().WriteEntry(std::string(section), std::string(key), std::string(value),
                                     kFile);
  }
  bool Delete(const char* section, const char* key) {
    return impl_.writer().WriteEntry(std::string(section), std::string(key), std::nullopt, kFile);
  }
  Impl impl_;
};

using Implementations = ::testing::Types<MemoryImpl, PosixImpl>;
TYPED_TEST_SUITE(ProfileContractTest, Implementations);

TYPED_TEST(ProfileContractTest, AWriteNeedsTheFolderAndCreatesTheFile) {
  EXPECT_FALSE(this->Write("POSTGRES_SERVER", "database", "x"));
  EXPECT_FALSE(this->impl_.Read());
  this->impl_.MakeFolder();
  EXPECT_TRUE(this->Write("POSTGRES_SERVER", "database", "x"));
  EXPECT_EQ(this->impl_.Read(), (Sections{{"POSTGRES_SERVER", {{"database", "x"}}}}));
}

TYPED_TEST(ProfileContractTest, WritesAndDeletesMatchWithoutRegardToCase) {
  this->impl_.Seed({{"General", {{"langver", "9"}}},
                    {"postgres_server", {{"Host", "db"}, {"LangVer", "1"}, {"DATABASE", "old"}}},
                    {"Other", {{"ccffl", "2"}}}});
  EXPECT_TRUE(this->Write("POSTGRES_SERVER", "database", "new"));
  EXPECT_TRUE(this->Write("POSTGRES_SERVER", "port", "5432"));
  EXPECT_TRUE(this->Write("Added", "k", "v"));
  this->Delete("POSTGRES_SERVER", "langver");
  this->Delete("POSTGRES_SERVER", "ccffl");
  this->Delete("Missing", "k");
  EXPECT_TRUE(this->impl_.writer().WriteEntry(std::nullopt, std::nullopt, std::nullopt, kFile));
  EXPECT_EQ(this->impl_.Read(),
            (Sections{{"General", {{"langver", "9"}}},
                      {"postgres_server", {{"Host", "db"}, {"DATABASE", "new"}, {"port", "5432"}}},
                      {"Other", {{"ccffl", "2"}}},
                      {"Added", {{"k", "v"}}}}));
}

TEST(PosixProfileTest, RefusalsLeaveTheFileAsItWas) {
  testing::TestDir dir;
  std::filesystem::create_directories(dir / "f:/kova");
  DriveMap drives(dir.path());
  PosixProfileWriter writer(drives);
  const std::string path = dir / "f:/kova/kelvarini.dat";
  const std::string utf16("\xFF\xFE[\0S\0]\0", 8);
  testing::WriteFile(path, utf16);
  EXPECT_FALSE(writer.WriteEntry(std::string("S"), std::string("k"), std::string("v"), kFile));
  EXPECT_EQ(testing::ReadFile(path), utf16);

  testing::WriteFile(path, "[S]\r\n");
  EXPECT_FALSE(
      writer.WriteEntry(std::string("S"), std::string("k"), std::string("a\r\n[E]"), kFile));
  chmod(path.c_str(), 0444);
  EXPECT_FALSE(writer.WriteEntry(std::string("S"), std::string("k"), std::string("v"), kFile));
  EXPECT_EQ(testing::ReadFile(path), "[S]\r\n");
}

TEST(PosixProfileTest, ALinkedSettingsFileStaysALink) {
  testing::TestDir dir;
  std::filesystem::create_directories(dir / "f:/kova");
  std::filesystem::create_directories(dir / "shared");
  testing::WriteFile(dir / "shared/real.ini", "[S]\r\n");
  std::filesystem::create_symlink(dir / "shared/real.ini", dir / "f:/kova/kelvarini.dat");
  DriveMap drives(dir.path());
  PosixProfileWriter writer(drives);
  EXPECT_TRUE(writer.WriteEntry(std::string("S"), std::string("k"), std::string("v"), kFile));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "f:/kova/kelvarini.dat"));
  EXPECT_EQ(testing::ReadFile(dir / "shared/real.ini"), "[S]\r\nk=v\r\n");
}

}  // namespace
}  // namespace vendrel::platform
