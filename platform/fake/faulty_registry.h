// Wraps any registry and makes the calls a FaultPlan names fail.
#ifndef VENDREL_PLATFORM_FAKE_FAULTY_REGISTRY_H_
#define VENDREL_PLATFORM_FAKE_FAULTY_REGISTRY_H_

#include "platform/fake/fault_plan.h"
#include "platform/registry.h"

namespace vendrel::platform {

// Operation names: "RegOpenKeyExA", "RegQueryValueExA(size)",
// "RegQueryValueExA(data)", "RegSetValueExA", "RegFlushKey", "RegCloseKey".
class FaultyRegistry : public Registry {
 public:
  FaultyRegistry(Registry& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}

  Result OpenKey(RootKey root, const std::string& sub_key, std::uint32_t access,
                 KeyHandle* key) override;
  Result QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override;
  Result SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
  Result FlushKey(KeyHandle key) override;
  Result CloseKey(KeyHandle key) override;

 private:
  Registry& inner_;
  FaultPlan& plan_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_FAULTY_REGISTRY_H_
