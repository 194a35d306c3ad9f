// The registry of the Linux build as the environment sets it up: a hive file
// for HKEY_LOCAL_MACHINE\Software where VENDREL_HKLM_HIVE names one, a
// user's NTUSER.DAT for HKEY_CURRENT_USER where VENDREL_HKCU_HIVE names one,
// and the REGEDIT4 store for a hive not named. Text in hives is converted
// through the ANSI code page VENDREL_CODEPAGE names (1252 when unset).
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_MACHINE_REGISTRY_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_MACHINE_REGISTRY_H_

#include <memory>

#include "platform/posix/files/drive_map.h"
#include "platform/posix/registry/hive/hive_registry.h"
#include "platform/posix/registry/routed_registry.h"
#include "platform/posix/registry/store_registry.h"

namespace vendrel::platform {

class MachineRegistry {
 public:
  // A hive path may name a file on one of drives, as a drive path too.
  explicit MachineRegistry(const DriveMap& drives);

  Registry& registry() { return routed_; }

 private:
  StoreRegistry store_;
  std::unique_ptr<HiveRegistry> local_machine_;
  std::unique_ptr<HiveRegistry> current_user_;
  RoutedRegistry routed_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_MACHINE_REGISTRY_H_
