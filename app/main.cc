#include "app/run.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  auto system = vendrel::platform::System::Create(argc, argv);
  system->Exit(vendrel::RunProgram(system->seams()));
}
