#include "platform/posix/config_path.h"

#include <cstdlib>

namespace vendrel::platform {

std::string Environment(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? value : "";
}

std::string ConfigPath(const char* variable, const char* leaf) {
  if (const char* path = std::getenv(variable); path != nullptr && *path != '\0') return path;
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    config = std::string(home != nullptr ? home : "") + "/.config";
  }
  return config + "/vendrel/" + leaf;
}

}  // namespace vendrel::platform
