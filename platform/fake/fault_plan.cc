#include "platform/fake/fault_plan.h"

namespace vendrel::platform {

void FaultPlan::Fail(const std::string& operation, int nth, WinCode code) {
  failures_[operation][nth] = code;
}

WinCode FaultPlan::Next(const std::string& operation) {
  int nth = ++calls_[operation];
  log_.push_back(operation);
  auto planned = failures_.find(operation);
  if (planned == failures_.end()) return kSuccess;
  auto failure = planned->second.find(nth);
  return failure == planned->second.end() ? kSuccess : failure->second;
}

int FaultPlan::Calls(const std::string& operation) const {
  auto found = calls_.find(operation);
  return found == calls_.end() ? 0 : found->second;
}

}  // namespace vendrel::platform
