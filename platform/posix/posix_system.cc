#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/files/drive_map.h"
#include "platform/posix/files/posix_files.h"
#include "platform/posix/posix_console.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/profile/posix_profile.h"
#include "platform/posix/registry/machine_registry.h"
#include "platform/system.h"

namespace vendrel::platform {
namespace {

constexpr int kLargeBuffer = 256 * 1024;

class PosixSystem : public System {
 public:
  PosixSystem(int argc, char** argv)
      : drives_(DriveMap::DefaultFolder()),
        registry_(drives_),
        files_(drives_),
        profile_(drives_),
        console_(STDOUT_FILENO, STDIN_FILENO),
        process_(argc, argv) {}

  Seams seams() override {
    return Seams{registry_.registry(), files_, profile_, console_, process_};
  }
  [[noreturn]] void Exit(int exit_code) override { std::exit(exit_code); }

 private:
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
