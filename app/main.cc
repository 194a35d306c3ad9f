#include "app/run.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  auto system = vendrel::platform::System::Create(argc, argv);
  int exit_code = vendrel::RunProgram(vendrel::RunPlatform{system->registry(), system->files(),
                                                           system->profile(), system->console(),
                                                           system->process()});
  system->Exit(exit_code);
}
