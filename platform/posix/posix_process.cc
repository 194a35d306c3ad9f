#include "platform/posix/posix_process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string_view>

namespace vendrel::platform {

PosixProcess::PosixProcess(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr) invoked_as_ = argv[0];
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') arguments_.emplace_back(argv[i]);
  }
}

std::vector<std::string> PosixProcess::SplitArguments() { return arguments_; }

std::string PosixProcess::ModuleFileName() {
  char link[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", link, sizeof link);
  if (length <= 0) return invoked_as_;
  std::string path(link, static_cast<std::size_t>(length));
  // A program file replaced or removed while it runs is shown with this
  // suffix; the program's name is still the name it was started under,
  // unless a file of that very name (suffix and all) is the program.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() &&
      path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    struct stat running;
    struct stat named;
    if (stat("/proc/self/exe", &running) != 0 || stat(path.c_str(), &named) != 0 ||
        running.st_ino != named.st_ino || running.st_dev != named.st_dev) {
      path.resize(path.size() - kDeleted.size());
    }
  }
  return path;
}

}  // namespace vendrel::platform
