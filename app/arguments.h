// The command line: splitting it into words, the options it carries and the
// hive they choose.
#ifndef VENDREL_APP_ARGUMENTS_H_
#define VENDREL_APP_ARGUMENTS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "platform/registry.h"

namespace vendrel {

constexpr std::size_t kVersionTextMax = 10;

struct RunOptions {
  std::string version_argument;  // the whole "-v..." argument
  std::string database_name;
  std::string practice_relief;
  std::string version_text;  // at most kVersionTextMax bytes
  std::string drive_text;
  bool drive_seen = false;  // an argument that is no option was given
};

// Splits a Windows command line into words, the program's own name first.
// Codes 1 to 32 separate; double quotes group and are dropped; a pair of
// quotes at the start of a word is skipped.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// The arguments after the program's name: the platform's own split where it
// splits them, else the command line split by the rules above.
std::vector<std::string> ProgramArguments(platform::Process& process);

// Scans the arguments after the program's name into options.
RunOptions ScanArguments(const std::vector<std::string>& arguments);

// When the scan saw a drive argument, the drive text becomes argument 1 and
// true is returned; otherwise the caller has to ask for it.
bool FinishDriveText(RunOptions& options, const std::vector<std::string>& arguments);

// The machine-wide hive when the version argument holds a '6' or a '7'.
platform::RootKey ChooseHive(const RunOptions& options);

}  // namespace vendrel

#endif  // VENDREL_APP_ARGUMENTS_H_
