// Wraps any console and makes the calls a FaultPlan names fail.
#ifndef VENDREL_PLATFORM_FAKE_FAULTY_CONSOLE_H_
#define VENDREL_PLATFORM_FAKE_FAULTY_CONSOLE_H_

#include "platform/console.h"
#include "platform/fake/fault_plan.h"

namespace vendrel::platform {

// Operation names: "WriteFile(stdout)", "ReadFile(stdin)".
class FaultyConsole : public Console {
 public:
  FaultyConsole(Console& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}

  OutputKind OutputType() override { return inner_.OutputType(); }
  Result WriteOutput(const char* data, std::size_t size, std::size_t* written) override;
  Result ReadInput(char* buffer, std::size_t capacity, std::size_t* read) override;

 private:
  Console& inner_;
  FaultPlan& plan_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_FAULTY_CONSOLE_H_
