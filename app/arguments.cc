#include "app/arguments.h"

#include "base/text.h"

namespace vendrel {
namespace {

bool IsSeparator(char c) {
  auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  for (;;) {
    for (;;) {
      while (i < n && IsSeparator(line[i])) ++i;
      if (i + 1 < n && line[i] == '"' && line[i + 1] == '"') {
        i += 2;
      } else {
        break;
      }
    }
    // A NUL ends the command line, as it ends the platform's text.
    if (i >= n || line[i] == '\0') break;
    std::string word;
    while (i < n && line[i] != '\0' && !IsSeparator(line[i])) {
      if (line[i] == '"') {
        ++i;
        while (i < n && line[i] != '"' && line[i] != '\0') word += line[i++];
        if (i < n && line[i] == '"') ++i;
      } else {
        word += line[i++];
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::vector<std::string> ProgramArguments(platform::Process& process) {
  std::optional<std::string> text = process.CommandLineText();
  if (!text) return process.SplitArguments();
  std::vector<std::string> words = SplitCommandLine(*text);
  if (!words.empty()) words.erase(words.begin());
  return words;
}

RunOptions ScanArguments(const std::vector<std::string>& arguments) {
  RunOptions options;
  for (const std::string& argument : arguments) {
    std::string_view rest = std::string_view(argument).substr(argument.size() < 2 ? 0 : 2);
    if (StartsWith(argument, "-v")) {
      options.version_argument = ShortString(argument);
    } else if (StartsWith(argument, "-d")) {
      options.database_name = ShortString(rest);
    } else if (StartsWith(argument, "-p")) {
      options.practice_relief = ShortString(rest);
    } else if (StartsWith(argument, "-w")) {
      options.version_text = ShortString(rest, kVersionTextMax);
    } else {
      options.drive_text = ShortString(argument);
      options.drive_seen = true;
    }
  }
  return options;
}

bool FinishDriveText(RunOptions& options, const std::vector<std::string>& arguments) {
  if (!options.drive_seen || arguments.empty()) return false;
  options.drive_text = ShortString(arguments.front());
  return true;
}

platform::RootKey ChooseHive(const RunOptions& options) {
  const std::string& version = options.version_argument;
  if (version.find_first_of("67") != std::string::npos) {
    return platform::RootKey::kLocalMachine;
  }
  return platform::RootKey::kCurrentUser;
}

}  // namespace vendrel
