// A property that must hold for every input: a finding aborts the fuzzer,
// which saves the input that caused it.
#ifndef VENDREL_TESTS_FUZZ_FUZZ_CHECK_H_
#define VENDREL_TESTS_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

#endif  // VENDREL_TESTS_FUZZ_FUZZ_CHECK_H_
