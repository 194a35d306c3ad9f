// A registry holding the product's key under HKEY_LOCAL_MACHINE, reached
// through a fault plan, for the tests of the settings key and its steps.
#ifndef VENDREL_TESTS_SUPPORT_PRODUCT_KEY_H_
#define VENDREL_TESTS_SUPPORT_PRODUCT_KEY_H_

#include <gtest/gtest.h>

#include "platform/fake/faulty_registry.h"
#include "platform/fake/memory_registry.h"

namespace vendrel::testing {

constexpr const char* kProductKey = "Software\\Tarvel Global";
constexpr platform::RootKey kLm = platform::RootKey::kLocalMachine;

class ProductKeyTest : public ::testing::Test {
 protected:
  ProductKeyTest() : registry_(memory_, plan_) {
    memory_.PutText(kLm, kProductKey, "Drive", "C:");
    memory_.PutText(kLm, kProductKey, "InstPath", "C:\\KOVA32");
    memory_.PutText(kLm, kProductKey, "cddir", "D:\\");
  }

  platform::MemoryRegistry memory_;
  platform::FaultPlan plan_;
  platform::FaultyRegistry registry_;
};

}  // namespace vendrel::testing

#endif  // VENDREL_TESTS_SUPPORT_PRODUCT_KEY_H_
