#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/posix_files.h"
#include "platform/posix/posix_console.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/profile/posix_profile.h"
#include "platform/posix/registry/machine_registry.h"
#include "platform/posix/registry/windows_disk.h"
#include "platform/system.h"

namespace vendrel::platform {
namespace {

constexpr int kLargeBuffer = 256 * 1024;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// What the run chose on a Windows disk, told on standard error, which the
// program's dialogue never uses.
void Say(const std::string& line) {
  const std::string said = "vendrel: " + line + "\n";
  (void)!write(STDERR_FILENO, said.data(), said.size());
}

// The Windows disk VENDREL_WINDOWS names, as found there.
std::unique_ptr<WindowsDisk> FindDisk() {
  const std::string top = Environment("VENDREL_WINDOWS");
  if (top.empty()) return nullptr;
  return std::make_unique<WindowsDisk>(
      FindWindows(top, Environment("VENDREL_USER"), Environment("VENDREL_CODEPAGE").empty()));
}

// The drives: the drives folder's, and the Windows disk's own letter where
// that folder maps none.
DriveMap MapDrives(const WindowsDisk* disk) {
  if (disk == nullptr) return DriveMap(DriveMap::DefaultFolder());
  DriveMap drives(DriveMap::DefaultFolder(), {{disk->system_drive, disk->top}});
  drives.SayUnmapped([](char letter) {
    const std::string drive(1, static_cast<char>(letter - 'a' + 'A'));
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
