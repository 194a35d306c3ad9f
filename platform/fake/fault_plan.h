// Which platform calls a test makes fail, and the order the calls came in.
#ifndef VENDREL_PLATFORM_FAKE_FAULT_PLAN_H_
#define VENDREL_PLATFORM_FAKE_FAULT_PLAN_H_

#include <map>
#include <string>
#include <vector>

#include "base/win_codes.h"

namespace vendrel::platform {

// Planned for a read or a write: it succeeds with half of the bytes.
constexpr WinCode kShortTransfer = 0xFFFFFFFF;

class FaultPlan {
 public:
  // The nth call (counted from 1) of the operation fails with the code.
  void Fail(const std::string& operation, int nth, WinCode code);

  // Counts a call and returns the code it fails with, kSuccess for none.
  WinCode Next(const std::string& operation);

  int Calls(const std::string& operation) const;
  const std::vector<std::string>& log() const { return log_; }

 private:
  std::map<std::string, std::map<int, WinCode>> failures_;
  std::map<std::string, int> calls_;
  std::vector<std::string> log_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_FAULT_PLAN_H_
