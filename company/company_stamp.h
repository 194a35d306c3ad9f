// The version stamp of the product's company file.
#ifndef VENDREL_COMPANY_COMPANY_STAMP_H_
#define VENDREL_COMPANY_COMPANY_STAMP_H_

#include <optional>
#include <string>

#include "base/dialogue.h"
#include "platform/files.h"

namespace vendrel {

constexpr std::size_t kWorkingDirMax = 10;

// The folder of the company file: the stored Drive followed by "\KOVA\",
// cut to 10 characters; empty when the settings key did not open (no
// stored Drive at all).
std::string WorkingDir(const std::optional<std::string>& stored_drive);

// The version text without blanks and control characters at its ends, cut
// to the 4 characters the record holds.
std::string StampValue(const std::string& version_text);

// Stamps every record but the first of the company file in the folder of
// the stored Drive, writing one line per record. A file that does not open
// ends the run after a message and a wait for Enter; any failing call after
// that ends it with an EInOutError.
void StampCompanyFile(const std::string& version_text,
                      const std::optional<std::string>& stored_drive, platform::Files& files,
                      Dialogue& dialogue);

}  // namespace vendrel

#endif  // VENDREL_COMPANY_COMPANY_STAMP_H_
