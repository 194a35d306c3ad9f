#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "base/text.h"
#include "platform/posix/config_path.h"
#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/posix_files.h"
#include "platform/posix/files/unique_fd.h"
#include "platform/posix/posix_console.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/profile/posix_profile.h"
#include "platform/posix/registry/machine_registry.h"
#include "platform/posix/registry/windows_disk.h"
#include "platform/system.h"

namespace vendrel::platform {
namespace {

constexpr int kLargeBuffer = 256 * 1024;

// What the run chose on a Windows disk, told on standard error, which the
// program's dialogue never uses; names from the disk are escaped on a
// terminal, as the dialogue's are.
void Say(const std::string& line) {
  bool held_cr = false;
  const std::string said =
      "vendrel: " + (isatty(STDERR_FILENO) == 1 ? EscapeForTerminal(line, &held_cr) : line) +
      (held_cr ? "^M\n" : "\n");
  (void)!write(STDERR_FILENO, said.data(), said.size());
}

// The Windows disk VENDREL_WINDOWS names, as found there.
std::unique_ptr<WindowsDisk> FindDisk() {
  const std::string top = Environment("VENDREL_WINDOWS");
  if (top.empty()) return nullptr;
  auto disk = std::make_unique<WindowsDisk>();
  try {
    *disk = FindWindows(top, Environment("VENDREL_USER"), Environment("VENDREL_CODEPAGE").empty());
  } catch (const std::bad_alloc&) {
    // Reported by the run's first registry call, as any other problem of the disk.
    disk->top = top;
    disk->problem = disk->user_problem = "Out of memory, reading the Windows disk " + top;
  }
  return disk;
}

// The drives: the drives folder's, and the Windows disk's own letter where
// that folder maps none; where it maps that letter to another folder, the
// product's files on that drive are there, which the run says.
DriveMap MapDrives(const WindowsDisk* disk) {
  if (disk == nullptr) return DriveMap(DriveMap::DefaultFolder());
  DriveMap drives(DriveMap::DefaultFolder(), {{disk->system_drive, disk->top}});
  UniqueFd folder;
  std::string shown;
  struct stat mapped {};
  struct stat top {};
  if (drives.OpenDriveFolder(disk->system_drive, &folder, &shown) == 0 &&
      fstat(folder.get(), &mapped) == 0 && stat(disk->top.c_str(), &top) == 0 &&
      (mapped.st_dev != top.st_dev || mapped.st_ino != top.st_ino)) {
    const std::string drive(1, UpperLetter(disk->system_drive));
    Say("drive " + drive + ": is the drives folder's " + shown + ", not the Windows disk " +
        disk->top + ": the product's files on " + drive + ": are read and written there");
  }
  drives.SayUnmapped([](char letter) {
    const std::string drive(1, UpperLetter(letter));
    Say("drive " + drive + ": is mapped to no folder: to map it, make a folder holding the entry " +
        std::string(1, letter) + ": (a link to where that drive is mounted) and name it in " +
        "VENDREL_DRIVES");
  });
  return drives;
}

class PosixSystem : public System {
 public:
  PosixSystem(int argc, char** argv)
      : disk_(FindDisk()),
        drives_(MapDrives(disk_.get())),
        registry_(drives_, disk_.get(), disk_ ? MachineRegistry::Say(Say) : MachineRegistry::Say()),
        files_(drives_),
        profile_(drives_),
        console_(STDOUT_FILENO, STDIN_FILENO),
        process_(argc, argv) {}

  Seams seams() override {
    return Seams{registry_.registry(), files_, profile_, console_, process_};
  }
  [[noreturn]] void Exit(int exit_code) override { std::exit(exit_code); }

 private:
  std::unique_ptr<WindowsDisk> disk_;
  DriveMap drives_;
  MachineRegistry registry_;
  PosixFiles files_;
  PosixProfileWriter profile_;
  PosixConsole console_;
  PosixProcess process_;
};

}  // namespace

std::unique_ptr<System> System::Create(int argc, char** argv) {
  // A closed pipe on standard output, and a write past a file-size limit
  // (ulimit -f), must come back as failed writes, to be reported, rather
  // than kill the process with its output held and its temporary files
  // left behind.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // A whole store or settings file is read into one buffer: such buffers
  // are mapped on their own and given back when freed, rather than left in
  // the heap once glibc has raised its threshold past their size.
  mallopt(M_MMAP_THRESHOLD, kLargeBuffer);
  return std::make_unique<PosixSystem>(argc, argv);
}

}  // namespace vendrel::platform
