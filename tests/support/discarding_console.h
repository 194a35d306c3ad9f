// A console that takes every write and has no input: for tests and
// benchmarks whose output is not what they check.
#ifndef VENDREL_TESTS_SUPPORT_DISCARDING_CONSOLE_H_
#define VENDREL_TESTS_SUPPORT_DISCARDING_CONSOLE_H_

#include "platform/console.h"

namespace vendrel::testing {

class DiscardingConsole : public platform::Console {
 public:
  platform::OutputKind OutputType() override { return platform::OutputKind::kFileOrPipe; }
  Result WriteOutput(const char*, std::size_t size, std::size_t* written) override {
    *written = size;
    return kSuccess;
  }
  Result ReadInput(char*, std::size_t, std::size_t* read) override {
    *read = 0;
    return kSuccess;
  }
};

}  // namespace vendrel::testing

#endif  // VENDREL_TESTS_SUPPORT_DISCARDING_CONSOLE_H_
