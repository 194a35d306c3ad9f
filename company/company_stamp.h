// The version stamp of the product's company file.
#ifndef VENDREL_COMPANY_COMPANY_STAMP_H_
#define VENDREL_COMPANY_COMPANY_STAMP_H_

#include <string>

#include "app/console_stream.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace vendrel {

constexpr std::size_t kWorkingDirMax = 10;

// The folder of the company file: the stored Drive followed by "\KOVA\",
// cut to 10 characters; empty when the settings key does not open.
std::string ReadWorkingDir(platform::Registry& registry, platform::RootKey hive);

// The version text without blanks and control characters at its ends, cut
// to the 4 characters the record holds.
std::string StampValue(const std::string& version_text);

// Stamps every record but the first of the company file found through the
// stored Drive, writing one line per record. A file that does not open ends
// the run after a message and a wait for Enter; any failing call after that
// ends it with an EInOutError.
void StampCompanyFile(const std::string& version_text, platform::RootKey hive,
                      platform::Registry& registry, platform::Files& files, ConsoleStream& console);

}  // namespace vendrel

#endif  // VENDREL_COMPANY_COMPANY_STAMP_H_
