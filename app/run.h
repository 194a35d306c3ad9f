// The run driver: one pass from the banner to the final prompt.
#ifndef VENDREL_APP_RUN_H_
#define VENDREL_APP_RUN_H_

#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace vendrel {

// The platform a run works on; the real one is made only in main.
struct RunPlatform {
  platform::Registry& registry;
  platform::Files& files;
  platform::ProfileWriter& profile;
  platform::Console& console;
  platform::Process& process;
};

// Runs the whole sequence and returns the exit code: 0 after a complete run,
// 1 after the failure report.
int RunProgram(const RunPlatform& platform);

}  // namespace vendrel

#endif  // VENDREL_APP_RUN_H_
