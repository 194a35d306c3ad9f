#include "platform/posix/files/drive_map.h"

#include "platform/posix/files/disk_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

namespace fs = std::filesystem;

class DriveMapTest : public ::testing::Test {
 protected:
  DriveMapTest() : drives_(dir_ / "drives") {
    fs::create_directories(dir_ / "drives/c:/KOVA");
    fs::create_directories(dir_ / "drives/c:/work/deep");
    fs::create_directories(dir_ / "elsewhere/F");
    fs::create_symlink(dir_ / "elsewhere/F", dir_ / "drives/f:");
    testing::WriteFile(dir_ / "drives/c:/KOVA/dromfile.dat", "x");
    testing::WriteFile(dir_ / "elsewhere/F/top.txt", "x");
    old_cwd_ = fs::current_path();
  }
  ~DriveMapTest() override { fs::current_path(old_cwd_); }

  std::string Resolve(const std::string& path, PathUse use = PathUse::kExisting) {
    std::string host;
    WinCode code = drives_.Resolve(path, use, &host);
    if (code != kSuccess) return "error " + std::to_string(code);
    return fs::path(host).lexically_relative(dir_.path()).string();
  }

  testing::ScratchFolder dir_;
  DriveMap drives_;
  fs::path old_cwd_;
};

TEST_F(DriveMapTest, DriveLettersAndNamesMatchWithoutRegardToCase) {
  EXPECT_EQ(Resolve("C:\\KOVA\\dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("c:\\kova\\DROMFILE.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("c:/kova//dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("F:\\top.txt"), "drives/f:/top.txt");
}

TEST_F(DriveMapTest, DotDotStopsAtTheDrivesFolder) {
  EXPECT_EQ(Resolve("C:\\..\\..\\KOVA\\.\\dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("C:\\work\\..\\..\\..\\KOVA\\dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("F:\\..\\elsewhere\\F\\top.txt"), "error 3");
}

TEST_F(DriveMapTest, MissingFilesFoldersAndDrivesGiveTheirCodes) {
  EXPECT_EQ(Resolve("C:\\KOVA\\missing.dat"), "error 2");
  EXPECT_EQ(Resolve("C:\\NOPE\\dromfile.dat"), "error 3");
  EXPECT_EQ(Resolve("C:\\KOVA\\dromfile.dat\\x"), "error 3");
  EXPECT_EQ(Resolve("Q:\\KOVA\\dromfile.dat"), "error 3");
  EXPECT_EQ(Resolve("C:\\kova\\kelvarini.dat", PathUse::kNewOrOld), "drives/c:/KOVA/kelvarini.dat");
  EXPECT_EQ(Resolve("C:\\nope\\kelvarini.dat", PathUse::kNewOrOld), "error 3");
}

TEST_F(DriveMapTest, NamesWindowsRejects) {
  for (const char* name : {"ABCD:\\KOVAdromfile.dat", "C:\\a:b", "1:\\x", "C:\\a<b", "C:\\a|b",
                           "C:\\a?", "C:\\*", "C:\\a\"b", "C:\\a\tb", ""}) {
    EXPECT_EQ(Resolve(name), "error 123") << name;
  }
  EXPECT_TRUE(IsValidWindowsName("C:\\\xe9t\xe9\\x"));
}

TEST_F(DriveMapTest, RelativeAndRootedPathsFollowTheWorkingDirectory) {
  fs::current_path(dir_ / "drives/c:/work/deep");
  EXPECT_EQ(Resolve("..\\..\\KOVA\\dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("..\\..\\..\\..\\KOVA\\dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("\\KOVA\\dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  fs::current_path(dir_ / "elsewhere/F");
  EXPECT_EQ(Resolve("\\top.txt"), "drives/f:/top.txt");
  fs::current_path(dir_.path());
  EXPECT_EQ(Resolve("\\KOVA\\dromfile.dat"), "error 3");
  EXPECT_EQ(Resolve("drives\\c:"), "error 123");
  testing::WriteFile(dir_ / "dromfile.dat", "x");
  EXPECT_EQ(Resolve("dromfile.dat"), "dromfile.dat");
}

TEST_F(DriveMapTest, ALinkLoopIsAnErrorNotAHang) {
  fs::create_symlink(dir_ / "drives/l1", dir_ / "drives/g:");
  fs::create_symlink(dir_ / "drives/g:", dir_ / "drives/l1");
  EXPECT_EQ(Resolve("G:\\x"), "error 3");
  fs::create_symlink("loop", dir_ / "drives/c:/loop");
  EXPECT_EQ(Resolve("C:\\loop\\x"), "error 1921");
}

// Links on a disk resolve inside its drive: an absolute one against the
// drive's folder, a climbing one no higher than its top. Where the kernel
// cannot confine a lookup, they are not followed at all.
TEST_F(DriveMapTest, LinksOnTheDiskStayInsideTheDrive) {
  testing::WriteFile(dir_ / "host.txt", "the host's");
  fs::create_symlink(dir_ / "host.txt", dir_ / "drives/c:/KOVA/absolute.dat");
  fs::create_symlink("/KOVA/dromfile.dat", dir_ / "drives/c:/KOVA/inside.dat");
  fs::create_symlink("../../../..", dir_ / "drives/c:/work/up");
  fs::create_symlink("/nowhere/new.dat", dir_ / "drives/c:/KOVA/dangling.dat");
  EXPECT_EQ(Resolve("C:\\KOVA\\absolute.dat"), "error 3");
  EXPECT_EQ(Resolve("C:\\KOVA\\inside.dat"), "drives/c:/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("C:\\work\\up\\KOVA\\dromfile.dat"), "drives/c:/work/up/KOVA/dromfile.dat");
  EXPECT_EQ(Resolve("C:\\work\\up\\host.txt"), "error 2");
  EXPECT_EQ(Resolve("C:\\KOVA\\dangling.dat", PathUse::kNewOrOld), "error 3");
  fs::create_directories(dir_ / "drives/c:/nowhere");
  EXPECT_EQ(Resolve("C:\\KOVA\\dangling.dat", PathUse::kNewOrOld), "drives/c:/nowhere/new.dat");

  LookUpWithoutOpenat2(true);
  EXPECT_EQ(Resolve("C:\\KOVA\\inside.dat"), "error 1921");
  EXPECT_EQ(Resolve("C:\\work\\up\\KOVA\\dromfile.dat"), "error 3");
  EXPECT_EQ(Resolve("C:\\KOVA\\dromfile.dat"), "drives/c:/KOVA/dromfile.dat");
  LookUpWithoutOpenat2(false);
}

// A file the operator names on a disk (a hive) is placed beneath the
// disk's top: by its host path through the drive's folder or its entry, or
// as a drive path; the disk's links never lead off it.
TEST_F(DriveMapTest, AFileNamedOnADiskStaysOnIt) {
  fs::create_directories(dir_ / "drives/c:/Windows/config");
  fs::create_directories(dir_ / "elsewhere/config");
  testing::WriteFile(dir_ / "drives/c:/Windows/config/SOFTWARE", "the disk's");
  testing::WriteFile(dir_ / "elsewhere/config/SOFTWARE", "another disk's");
  fs::create_symlink(dir_ / "elsewhere/config", dir_ / "drives/c:/Windows/linked");
  fs::create_symlink(dir_ / "elsewhere/config/SOFTWARE", dir_ / "drives/c:/Windows/config/LINK");
  fs::create_symlink("/Windows/config/SOFTWARE", dir_ / "drives/c:/Windows/config/INSIDE");
  auto place = [&](const std::string& path) {
    PlacedFile placed;
    if (int error = PlaceOnItsDisk(&drives_, path, &placed); error != 0) return std::string("no");
    return fs::path(placed.shown).lexically_relative(dir_.path()).string();
  };
  const std::string disk = dir_ / "drives/c:";
  EXPECT_EQ(place(disk + "/Windows/config/SOFTWARE"), "drives/c:/Windows/config/SOFTWARE");
  EXPECT_EQ(place("C:\\Windows\\CONFIG\\software"), "drives/c:/Windows/config/SOFTWARE");
  EXPECT_EQ(place(disk + "/Windows/config/INSIDE"), "drives/c:/Windows/config/SOFTWARE");
  EXPECT_EQ(place(disk + "/Windows/config/../../Windows/config/SOFTWARE"),
            "drives/c:/Windows/config/SOFTWARE");
  EXPECT_EQ(place(dir_ / "elsewhere/F/../config/SOFTWARE"), "elsewhere/config/SOFTWARE");
  fs::create_symlink("..", dir_ / "drives/c:/Windows/config/UP");
  EXPECT_EQ(place(disk + "/Windows/config/UP"), "no");
  fs::create_symlink(dir_ / "drives/c:", dir_ / "drives/g:");
  EXPECT_EQ(place(dir_ / "drives/g:/Windows/config/INSIDE"), "drives/g:/Windows/config/SOFTWARE");
  // Spelled in another letter case, the operator's folders still end in
  // the drive's.
  for (const char* off_the_disk : {"/Windows/linked/SOFTWARE", "/Windows/config/LINK"}) {
    for (const char* drive : {"drives/c:", "drives/g:", "drives/G:", "DRIVES/c:"}) {
      EXPECT_EQ(place(dir_ / drive + off_the_disk), "no") << drive << off_the_disk;
    }
  }
  fs::current_path(dir_ / "drives");
  EXPECT_EQ(place("c:/Windows/linked/SOFTWARE"), "no");
}

}  // namespace
}  // namespace vendrel::platform
