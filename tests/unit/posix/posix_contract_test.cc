// The Linux platform layer answers as the Windows functions do, and keeps
// the promises only it makes: atomic, locked, link-preserving rewrites.
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "contract/files_contract.h"
#include "contract/profile_contract.h"
#include "contract/registry_contract.h"
#include "platform/posix/files/posix_files.h"
#include "platform/posix/profile/posix_profile.h"
#include "platform/posix/registry/hive/hive_registry.h"
#include "platform/posix/registry/routed_registry.h"
#include "platform/posix/registry/store_registry.h"
#include "support/hive_maker.h"
#include "support/result_printer.h"
#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

struct StoreRegistryImpl {
  static constexpr const char* kKeyPath = "Software\\Tarvel Global";
  testing::ScratchFolder dir;
  std::unique_ptr<Registry> Make() {
    std::string path = dir / "registry.reg";
    testing::WriteFile(path,
                       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\r\n"
                       "\"Drive\"=\"C:\"\r\n\"Count\"=dword:0000002a\r\n\"Blob\"=hex:01,02\r\n");
    return std::make_unique<StoreRegistry>(path);
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, RegistryContract, StoreRegistryImpl);

// A SOFTWARE hive for HKEY_LOCAL_MACHINE, through the router, with an empty
// store for HKEY_CURRENT_USER.
struct HiveRegistryImpl {
  static constexpr const char* kKeyPath = "Software\\Tarvel Global";
  testing::ScratchFolder dir;
  std::unique_ptr<StoreRegistry> store;
  std::unique_ptr<HiveRegistry> hive;
  std::unique_ptr<Registry> Make() {
    testing::HiveKey root{"ROOT", {}, {}, {}};
    root.Child("Tarvel Global").values = {{"Drive", kRegSz, testing::Utf16Text("C:")},
                                          {"Count", kRegDword, std::string("*\0\0\0", 4)},
                                          {"Blob", kRegBinary, "\x01\x02"}};
    testing::WriteFile(dir / "SOFTWARE", testing::MakeHive(root));
    testing::WriteFile(dir / "registry.reg", "REGEDIT4\r\n");
    store = std::make_unique<StoreRegistry>(dir / "registry.reg");
    hive = std::make_unique<HiveRegistry>(dir / "SOFTWARE", HiveRegistry::Contents::kSoftware,
                                          CodePage::Make(1252));
    return std::make_unique<RoutedRegistry>(*hive, *store);
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(PosixHive, RegistryContract, HiveRegistryImpl);

struct PosixFilesImpl {
  testing::ScratchFolder dir;
  std::unique_ptr<DriveMap> drives;
  std::unique_ptr<Files> Make() {
    std::filesystem::create_directories(dir / "c:/KOVA");
    testing::WriteFile(dir / "c:/KOVA/dromfile.dat", "0123456789");
    testing::WriteFile(dir / "c:/KOVA/locked.dat", "x");
    chmod((dir / "c:/KOVA/locked.dat").c_str(), 0444);
    drives = std::make_unique<DriveMap>(dir.path());
    return std::make_unique<PosixFiles>(*drives);
  }
  std::string Name(const std::string& inside) { return "C:\\" + inside; }
  std::string Content() { return testing::ReadFile(dir / "c:/KOVA/dromfile.dat"); }
  bool EnforcesReadOnly() { return true; }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FilesContract, PosixFilesImpl);

struct PosixProfileImpl {
  testing::ScratchFolder dir;
  DriveMap drives{dir.path()};
  PosixProfileWriter profile{drives};
  PosixProfileImpl() { std::filesystem::create_directories(dir / "f:"); }
  ProfileWriter& writer() { return profile; }
  std::string File() { return "F:\\kova\\kelvarini.dat"; }
  void MakeFolder() { std::filesystem::create_directories(dir / "f:/kova"); }
  void Prepare(const Sections& sections) {
    MakeFolder();
    testing::WriteFile(dir / "f:/kova/kelvarini.dat", WriteSections(sections));
  }
  std::optional<Sections> Read() {
    if (!std::filesystem::exists(dir / "f:/kova/kelvarini.dat")) return std::nullopt;
    return ReadSections(testing::ReadFile(dir / "f:/kova/kelvarini.dat"));
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, ProfileContract, PosixProfileImpl);

TEST(PosixFilesTest, PositionsPast4GiBInASparseFile) {
  testing::ScratchFolder dir;
  std::filesystem::create_directories(dir / "c:");
  testing::WriteFile(dir / "c:/big.dat", "");
  std::filesystem::resize_file(dir / "c:/big.dat", (std::uint64_t{5} << 30));
  DriveMap drives(dir.path());
  PosixFiles files(drives);
  FileHandle file = 0;
  ASSERT_EQ(files.OpenExisting("C:\\big.dat", &file), kSuccess);
  const std::uint64_t far = (std::uint64_t{4} << 30) + 359;
  std::uint32_t done = 0;
  ASSERT_EQ(files.SetPosition(file, far), kSuccess);
  ASSERT_EQ(files.Write(file, "stamp", 5, &done), kSuccess);
  char back[5] = {};
  ASSERT_EQ(files.SetPosition(file, far), kSuccess);
  ASSERT_EQ(files.Read(file, back, 5, &done), kSuccess);
  EXPECT_EQ(std::string(back, 5), "stamp");
  // Nothing landed where a 32-bit position would have wrapped to.
  ASSERT_EQ(files.SetPosition(file, 359), kSuccess);
  ASSERT_EQ(files.Read(file, back, 5, &done), kSuccess);
  EXPECT_EQ(std::string(back, 5), std::string(5, '\0'));
  EXPECT_EQ(files.Close(file), kSuccess);
}

TEST(PosixProfileTest, RefusalsLeaveTheFileAsItWas) {
  testing::ScratchFolder dir;
  std::filesystem::create_directories(dir / "f:/kova");
  DriveMap drives(dir.path());
  PosixProfileWriter writer(drives);
  const std::string file = "F:\\kova\\kelvarini.dat";
  const std::string path = dir / "f:/kova/kelvarini.dat";
  const std::string utf16("\xFF\xFE[\0S\0]\0", 8);
  testing::WriteFile(path, utf16);
  Result refused = writer.WriteEntry(std::string("S"), std::string("k"), std::string("v"), file);
  EXPECT_EQ(refused, kInvalidData);
  EXPECT_EQ(refused.detail(),
            "the file holds UTF-16 text (little-endian, with a byte-order mark), which is not "
            "edited as single bytes");
  EXPECT_EQ(testing::ReadFile(path), utf16);

  testing::WriteFile(path, "[S]\r\n");
  EXPECT_EQ(writer.WriteEntry(std::string("S"), std::string("k"), std::string("a\r\n[E]"), file),
            kInvalidParameter);
  chmod(path.c_str(), 0444);
  EXPECT_EQ(writer.WriteEntry(std::string("S"), std::string("k"), std::string("v"), file),
            kAccessDenied);
  EXPECT_EQ(testing::ReadFile(path), "[S]\r\n");
}

// A link on the drive stays a link, and is followed inside the drive only:
// an absolute one resolves against the drive's folder, as if it were "/".
TEST(PosixProfileTest, ALinkedSettingsFileStaysALinkInsideItsDrive) {
  testing::ScratchFolder dir;
  std::filesystem::create_directories(dir / "f:/kova");
  std::filesystem::create_directories(dir / "f:/shared");
  testing::WriteFile(dir / "f:/shared/real.ini", "[S]\r\n");
  std::filesystem::create_symlink("/shared/real.ini", dir / "f:/kova/kelvarini.dat");
  std::filesystem::create_directories(dir / "shared");
  testing::WriteFile(dir / "shared/real.ini", "host");
  std::filesystem::create_symlink(dir / "shared/real.ini", dir / "f:/kova/outside.dat");
  DriveMap drives(dir.path());
  PosixProfileWriter writer(drives);
  EXPECT_EQ(writer.WriteEntry(std::string("S"), std::string("k"), std::string("v"),
                              "F:\\kova\\kelvarini.dat"),
            kSuccess);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "f:/kova/kelvarini.dat"));
  EXPECT_EQ(testing::ReadFile(dir / "f:/shared/real.ini"), "[S]\r\nk=v\r\n");
  // The same link's path, taken beneath the drive, has no folder there.
  EXPECT_EQ(writer.WriteEntry(std::string("S"), std::string("k"), std::string("v"),
                              "F:\\kova\\outside.dat"),
            kPathNotFound);
  EXPECT_EQ(testing::ReadFile(dir / "shared/real.ini"), "host");
}

}  // namespace
}  // namespace vendrel::platform
