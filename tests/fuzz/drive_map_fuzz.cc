// The drive-path mapper: whatever path it is given, what it resolves to lies
// inside the folder of the path's drive (or of the working directory's drive
// for a path without one), also through "..", links and case folding.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "platform/posix/files/drive_map.h"

namespace {

using vendrel::platform::DriveMap;
using vendrel::platform::PathUse;

std::string g_drives;
std::string g_working_dir;  // inside d:

// Relative paths resolve against the working directory, so each input runs
// inside d:; the fuzzer's own one is kept for the corpus folders it writes.
class InsideDriveD {
 public:
  InsideDriveD() : home_(open(".", O_RDONLY | O_DIRECTORY)) {
    FUZZ_CHECK(chdir(g_working_dir.c_str()) == 0);
  }
  ~InsideDriveD() {
    FUZZ_CHECK(fchdir(home_) == 0);
    close(home_);
  }
  InsideDriveD(const InsideDriveD&) = delete;
  InsideDriveD& operator=(const InsideDriveD&) = delete;

 private:
  int home_;
};

void RemoveDrives() {
  std::error_code ignored;
  std::filesystem::remove_all(g_drives, ignored);
}

void MakeFolder(const std::string& path) { mkdir(path.c_str(), 0755); }

std::string Real(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  std::string out = real == nullptr ? std::string() : std::string(real);
  free(real);
  return out;
}

bool Inside(const std::string& path, const std::string& folder) {
  return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0;
}

// The real path of what a resolved name stands for; for a name that does
// not exist yet, its folder's real path with the name behind it.
std::string Landing(const std::string& host_path) {
  std::string real = Real(host_path);
  if (!real.empty()) return real;
  std::size_t slash = host_path.find_last_of('/');
  return Real(host_path.substr(0, slash)) + host_path.substr(slash);
}

}  // namespace

// Drives d: (a folder with mixed-case names and a link loop), e: (a link to
// a folder inside d:) and l: (a link to itself).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/vendrel-drive-fuzz-XXXXXX";
  g_drives = mkdtemp(pattern);
  std::atexit(RemoveDrives);
  const std::string d = g_drives + "/d:";
  MakeFolder(d);
  MakeFolder(d + "/KOVA");
  MakeFolder(d + "/KOVA/Sub");
  std::ofstream(d + "/KOVA/dromfile.dat") << "x";
  std::ofstream(d + "/KOVA/Sub/Kelvarini.DAT") << "x";
  symlink("loop", (d + "/loop").c_str());
  symlink("KOVA/Sub", (d + "/inner").c_str());
  symlink("d:/KOVA", (g_drives + "/e:").c_str());
  symlink("l:", (g_drives + "/l:").c_str());
  g_working_dir = d + "/KOVA";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const PathUse use = input.ConsumeBool() ? PathUse::kExisting : PathUse::kNewOrOld;
  const std::string path = input.ConsumeRemainingBytesAsString();
  DriveMap map(g_drives);
  std::string host;
  {
    InsideDriveD inside;
    if (map.Resolve(path, use, &host) != vendrel::kSuccess) return 0;
  }
  const bool has_drive = path.size() >= 2 && path[1] == ':';
  const char letter = has_drive ? static_cast<char>(path[0] | 0x20) : 'd';
  const std::string drive = Real(g_drives + "/" + letter + ":");
  FUZZ_CHECK(!drive.empty());
  FUZZ_CHECK(Inside(Landing(host), drive));
  return 0;
}
