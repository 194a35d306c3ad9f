#include "platform/win32/windows_api.h"

#include "platform/system.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_registry.h"

namespace vendrel::platform {
namespace {

class Win32System : public System {
 public:
  Seams seams() override { return Seams{registry_, files_, profile_, console_, process_}; }
  [[noreturn]] void Exit(int exit_code) override { ExitProcess(static_cast<UINT>(exit_code)); }

 private:
  Win32Registry registry_;
  Win32Files files_;
  Win32ProfileWriter profile_;
  Win32Console console_;
  Win32Process process_;
};

}  // namespace

std::unique_ptr<System> System::Create(int, char**) { return std::make_unique<Win32System>(); }

}  // namespace vendrel::platform
