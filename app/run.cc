#include "app/run.h"

#include <new>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/console_stream.h"
#include "app/failure_report.h"
#include "base/error.h"
#include "company/company_stamp.h"
#include "scramble/scramble_name.h"
#include "settings/installation_values.h"
#include "settings/shared_settings_file.h"

namespace vendrel {
namespace {

void WriteBanner(ConsoleStream& out) {
  out.WriteLine("");
  out.WriteLine("Vendrel.exe version 1.3");
  out.WriteLine(
      "Usage vendrel <drive> -v<version> -d<postgres_database_name> -p<pryn> -w<dromversion>");
  out.WriteLine(
      "  (if <version>=\"6/7\" then HKEY_LOCAL_MACHINE is updated, else HKEY_CURRENT_USER");
  out.WriteLine("");
}

void WriteCurrentValues(ConsoleStream& out, const SettingsValues& values) {
  out.WriteLine("Current values: ");
  out.WriteLine("  Drive:      " + values.drive);
  out.WriteLine("  InstPath:   " + values.inst_path);
  out.WriteLine("  LocalDrive: " + values.local_drive);
  out.WriteLine("  CDDIR:      " + values.cddir);
  out.WriteLine("  UPDIR:      " + values.updir);
  out.WriteLine("  Practice Relief:   " + values.practice_relief);
  out.WriteLine("");
}

void WriteNewValues(ConsoleStream& out, const NewValues& values, const RunOptions& options) {
  out.WriteLine("");
  out.WriteLine("Updating new values: ");
  out.WriteLine("  Drive:      " + values.drive);
  out.WriteLine("  InstPath:   " + values.inst_path);
  out.WriteLine("  LocalDrive: " + values.local_drive);
  out.WriteLine("  Practice Relief: " + options.practice_relief);
  out.WriteLine("  Weergawe: " + options.version_text);
  out.WriteLine("");
}

void RunSequence(const platform::Seams& platform, ConsoleStream& out) {
  WriteBanner(out);
  std::vector<std::string> arguments = ProgramArguments(platform.process);
  RunOptions options = ScanArguments(arguments);

  const platform::RootKey hive = ChooseHive(options);
  out.WriteLine(hive == platform::RootKey::kLocalMachine ? "Reading from HKLM"
                                                         : "Reading from HKCU");
  SettingsValues current = ReadSettingsValues(platform.registry, hive);
  WriteCurrentValues(out, current);

  if (FinishDriveText(options, arguments)) {
    out.WriteLine("Values specified: " + options.drive_text);
  } else {
    out.Prompt("enter new value(s):");
    options.drive_text = out.ReadLine();
  }

  NewValues values = ComposeNewValues(options.drive_text);
  WriteNewValues(out, values, options);
  WriteSettingsValues(platform.registry, hive, values, options.practice_relief);

  if (!options.version_text.empty()) {
    // The Drive stored now, not the one composed: the product's folder is
    // where the registry says it is.
    StampCompanyFile(options.version_text, ReadStoredDrive(platform.registry, hive), platform.files,
                     out);
  }
  if (!options.database_name.empty()) {
    ScrambleGenerator generator;
    StoreDatabaseName(values.drive, options.database_name, platform.profile, generator, out);
  }

  out.Prompt("Any key to quit...");
  out.ReadLine();
}

}  // namespace

int RunProgram(const platform::Seams& platform) {
  ConsoleStream out(platform.console);
  try {
    try {
      RunSequence(platform, out);
      out.Flush();
      return 0;
    } catch (const std::bad_alloc&) {
      throw Error(ErrorKind::kOutOfMemory, "Out of memory", RaiseSite::kOutOfMemory);
    }
  } catch (const Error& error) {
    // The report goes out after whatever was held back; when the console
    // itself has failed there is nowhere left to report to.
    try {
      out.Flush();
    } catch (const Error&) {
    }
    try {
      out.Prompt(FormatFailureReport(error, ModuleName(platform.process.ModuleFileName())));
    } catch (const Error&) {
    }
    return 1;
  }
}

}  // namespace vendrel
