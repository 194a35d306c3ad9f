#include "platform/posix/registry/machine_registry.h"

#include <cstdlib>
#include <string>

#include "platform/posix/config_path.h"

namespace vendrel::platform {
namespace {

constexpr int kWesternEuropean = 1252;

// The code page hives are read through, and the report of one this system
// cannot convert.
struct ChosenCodePage {
  std::shared_ptr<const CodePage> page;
  std::string problem;
  std::string said;
};

ChosenCodePage ChooseCodePage(const WindowsDisk* disk) {
  ChosenCodePage chosen;
  const std::string named = Environment("VENDREL_CODEPAGE");
  if (!named.empty()) {
    char* end = nullptr;
    const long number = std::strtol(named.c_str(), &end, 10);
    if (*end == '\0' && number > 0 && number < 65536) {
      chosen.page = CodePage::Make(static_cast<int>(number));
    }
    chosen.problem = "cannot be used: VENDREL_CODEPAGE " + named +
                     " names no single-byte code page this system converts (such as 1250, 1251 "
                     "or 1252)";
    chosen.said = "code page " + named + ", as VENDREL_CODEPAGE names";
    return chosen;
  }
  const int found = disk != nullptr ? disk->code_page : 0;
  chosen.page = CodePage::Make(found != 0 ? found : kWesternEuropean);
  chosen.problem = "cannot be used: the Windows disk's ANSI code page " + std::to_string(found) +
                   " is no single-byte code page this system converts: name one with "
                   "VENDREL_CODEPAGE";
  chosen.said = found != 0 ? "code page " + std::to_string(found) + ", the installation's"
                           : "code page 1252: the disk's SYSTEM hive names none";
  return chosen;
}

// The hive that serves a root key, where one does: the one a variable names,
// else the Windows disk's where no store is named (its report where the
// disk cannot give one).
std::unique_ptr<HiveRegistry> HiveFor(HiveRegistry::Contents contents, const DriveMap* drives,
                                      const DriveMap* on_disk, const WindowsDisk* disk,
                                      const MachineRegistry::Say& say, HiveRegistry* installation) {
  const bool machine = contents == HiveRegistry::Contents::kSoftware;
  const std::string named = Environment(machine ? "VENDREL_HKLM_HIVE" : "VENDREL_HKCU_HIVE");
  std::string path = named;
  if (path.empty() && disk != nullptr && std::getenv("VENDREL_REGISTRY") == nullptr) {
    const std::string& problem = machine ? disk->problem : disk->user_problem;
    if (!problem.empty()) return std::make_unique<HiveRegistry>("", contents, nullptr, problem);
    path = machine ? disk->software : disk->user_hive;
    drives = on_disk;
  }
  if (path.empty()) return nullptr;
  const ChosenCodePage code_page = ChooseCodePage(disk);
  auto hive = std::make_unique<HiveRegistry>(path, contents, code_page.page, code_page.problem,
                                             drives, installation);
  if (say) hive->SayRecoveries(say);
  return hive;
}

}  // namespace

MachineRegistry::MachineRegistry(const DriveMap& drives, const WindowsDisk* disk, const Say& say)
    : store_(StoreRegistry::DefaultStorePath()),
      disk_("", disk != nullptr ? std::map<char, std::string>{{disk->system_drive, disk->top}}
                                : std::map<char, std::string>{}),
      local_machine_(
          HiveFor(HiveRegistry::Contents::kSoftware, &drives, &disk_, disk, say, nullptr)),
      current_user_(
          HiveFor(HiveRegistry::Contents::kUser, &drives, &disk_, disk, say, local_machine_.get())),
      routed_(local_machine_ ? static_cast<Registry&>(*local_machine_) : store_,
              current_user_ ? static_cast<Registry&>(*current_user_) : store_) {
  if (disk == nullptr || !say) return;
  // What serves the run, in the words of a technician's checklist.
  auto served = [&](const char* variable, const std::string& found, const std::string& shown) {
    const std::string named = Environment(variable);
    if (!named.empty()) return named + ", as " + variable + " names";
    if (std::getenv("VENDREL_REGISTRY") != nullptr) {
      return std::string("the REGEDIT4 store VENDREL_REGISTRY names");
    }
    return found.empty() ? std::string("none: a run that reads it reports why") : shown;
  };
  say("HKEY_LOCAL_MACHINE\\Software: " +
      served("VENDREL_HKLM_HIVE", disk->software, disk->software_shown));
  say("HKEY_CURRENT_USER: " + served("VENDREL_HKCU_HIVE", disk->user_hive,
                                     disk->user_hive_shown + ", the profile of " + disk->user));
  const ChosenCodePage code_page = ChooseCodePage(disk);
  say(code_page.page ? code_page.said : "no code page: a run that reads a hive reports why");
}

}  // namespace vendrel::platform
