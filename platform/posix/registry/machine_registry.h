// The registry of the Linux build as the environment sets it up: a hive file
// for HKEY_LOCAL_MACHINE\Software where VENDREL_HKLM_HIVE names one, a
// user's NTUSER.DAT for HKEY_CURRENT_USER where VENDREL_HKCU_HIVE names one,
// those a Windows disk (VENDREL_WINDOWS) holds where it is given and no
// REGEDIT4 store is named (VENDREL_REGISTRY), and the store for a hive not
// named. Text in hives is converted through the ANSI code page
// VENDREL_CODEPAGE names, else the Windows disk's, else 1252.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_MACHINE_REGISTRY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_MACHINE_REGISTRY_H_

#include <functional>
#include <memory>
#include <string>

#include "platform/posix/files/drive_map.h"
#include "platform/posix/registry/hive/hive_registry.h"
#include "platform/posix/registry/routed_registry.h"
#include "platform/posix/registry/store_registry.h"
#include "platform/posix/registry/windows_disk.h"

namespace vendrel::platform {

class MachineRegistry {
 public:
  using Say = std::function<void(const std::string&)>;

  // A hive path may name a file on one of drives, as a drive path too.
  // disk, when given, is the Windows disk the run repairs, whose hives are
  // opened on it whatever drives maps its letter to; say is told which
  // hives and code page serve it, and what a dirty hive's logs brought.
  explicit MachineRegistry(const DriveMap& drives, const WindowsDisk* disk = nullptr,
                           const Say& say = {});

  Registry& registry() { return routed_; }

 private:
  StoreRegistry store_;
  DriveMap disk_;  // the Windows disk alone, as its own letter
  std::unique_ptr<HiveRegistry> local_machine_;
  std::unique_ptr<HiveRegistry> current_user_;
  RoutedRegistry routed_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_MACHINE_REGISTRY_H_
