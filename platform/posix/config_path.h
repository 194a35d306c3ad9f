// Where the Linux build keeps what stands in for the Windows machine.
#ifndef VENDREL_PLATFORM_POSIX_CONFIG_PATH_H_
#define VENDREL_PLATFORM_POSIX_CONFIG_PATH_H_

#include <string>

namespace vendrel::platform {

// The path the environment variable names when it is set and not empty,
// else $XDG_CONFIG_HOME/vendrel/<leaf>, with $HOME/.config for an unset
// XDG_CONFIG_HOME.
std::string ConfigPath(const char* variable, const char* leaf);

// The environment variable's value; empty where it is not set.
std::string Environment(const char* variable);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_CONFIG_PATH_H_
