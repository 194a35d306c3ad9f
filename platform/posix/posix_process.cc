#include "platform/posix/posix_process.h"

#include <unistd.h>
#include <climits>

namespace vendrel::platform {

PosixProcess::PosixProcess(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr) invoked_as_ = argv[0];
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') arguments_.emplace_back(argv[i]);
  }
}

std::vector<std::string> PosixProcess::SplitArguments() { return arguments_; }

std::string PosixProcess::ModuleFileName() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length > 0) return std::string(path, static_cast<std::size_t>(length));
  return invoked_as_;
}

}  // namespace vendrel::platform
