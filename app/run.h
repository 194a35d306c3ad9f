// The run driver: one pass from the banner to the final prompt.
#ifndef VENDREL_APP_RUN_H_
#define VENDREL_APP_RUN_H_

#include "platform/seams.h"

namespace vendrel {

// Runs the whole sequence and returns the exit code: 0 after a complete run,
// 1 after the failure report.
int RunProgram(const platform::Seams& platform);

}  // namespace vendrel

#endif  // VENDREL_APP_RUN_H_
