// Wraps any profile writer and makes the calls a FaultPlan names fail.
#ifndef VENDREL_PLATFORM_FAKE_FAULTY_PROFILE_H_
#define VENDREL_PLATFORM_FAKE_FAULTY_PROFILE_H_

#include "platform/fake/fault_plan.h"
#include "platform/profile.h"

namespace vendrel::platform {

// Operation names: "WritePrivateProfileStringA(write)", "(delete)", "(flush)".
class FaultyProfile : public ProfileWriter {
 public:
  FaultyProfile(ProfileWriter& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}

  Result WriteEntry(const std::optional<std::string>& section,
                    const std::optional<std::string>& key, const std::optional<std::string>& value,
                    const std::string& file_name) override;

 private:
  ProfileWriter& inner_;
  FaultPlan& plan_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_FAULTY_PROFILE_H_
