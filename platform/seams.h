// The five narrow interfaces over the platform that a run works through,
// bundled. The real ones are made only in main; tests bundle fakes.
#ifndef VENDREL_PLATFORM_SEAMS_H_
#define VENDREL_PLATFORM_SEAMS_H_

#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace vendrel::platform {

struct Seams {
  Registry& registry;
  Files& files;
  ProfileWriter& profile;
  Console& console;
  Process& process;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_SEAMS_H_
