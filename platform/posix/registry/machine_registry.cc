#include "platform/posix/registry/machine_registry.h"

#include <cstdlib>
#include <string>

#include "platform/posix/registry/hive/hive_registry.h"

namespace vendrel::platform {
namespace {

constexpr int kWesternEuropean = 1252;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::unique_ptr<HiveRegistry> HiveNamedBy(const char* variable, HiveRegistry::Contents contents,
                                          const DriveMap& drives,
                                          HiveRegistry* installation = nullptr) {
  const std::string path = Environment(variable);
  if (path.empty()) return nullptr;
  const std::string named = Environment("VENDREL_CODEPAGE");
  char* end = nullptr;
  const long number = named.empty() ? kWesternEuropean : std::strtol(named.c_str(), &end, 10);
  std::shared_ptr<const CodePage> page;
  if (named.empty() || (end != nullptr && *end == '\0' && number > 0 && number < 65536)) {
    page = CodePage::Make(static_cast<int>(number));
  }
  return std::make_unique<HiveRegistry>(
      path, contents, page,
      "cannot be used: VENDREL_CODEPAGE " + named +
          " names no single-byte code page this system converts (such as 1250, 1251 or 1252)",
      &drives, installation);
}

}  // namespace

MachineRegistry::MachineRegistry(const DriveMap& drives)
    : store_(StoreRegistry::DefaultStorePath()),
      local_machine_(HiveNamedBy("VENDREL_HKLM_HIVE", HiveRegistry::Contents::kSoftware, drives)),
      current_user_(HiveNamedBy("VENDREL_HKCU_HIVE", HiveRegistry::Contents::kUser, drives,
                                local_machine_.get())),
      routed_(local_machine_ ? static_cast<Registry&>(*local_machine_) : store_,
              current_user_ ? static_cast<Registry&>(*current_user_) : store_) {}

}  // namespace vendrel::platform
