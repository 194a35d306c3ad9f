#include "company/company_stamp.h"

#include "company/company_record.h"
#include "platform/error.h"
#include "platform/text.h"
#include "settings/installation_values.h"

namespace vendrel {
namespace {

// The company file while it is open. A run that ends in an error releases
// it on the way out; the normal path closes it and checks the result.
class OpenCompanyFile {
 public:
  OpenCompanyFile(platform::Files& files, platform::FileHandle handle)
      : files_(files), handle_(handle) {}
  ~OpenCompanyFile() {
    if (open_) files_.Close(handle_);
  }
  OpenCompanyFile(const OpenCompanyFile&) = delete;
  OpenCompanyFile& operator=(const OpenCompanyFile&) = delete;

  platform::FileHandle handle() const { return handle_; }

  void Close() {
    open_ = false;
    if (platform::WinCode code = files_.Close(handle_)) {
      throw InOutError(code, RaiseSite::kCompanyClose);
    }
  }

 private:
  platform::Files& files_;
  platform::FileHandle handle_;
  bool open_ = true;
};

void Check(platform::WinCode code) {
  if (code != platform::kSuccess) throw InOutError(code, RaiseSite::kCompanyIo);
}

}  // namespace

std::string ReadWorkingDir(platform::Registry& registry, platform::RootKey hive) {
  StoredDrive stored = ReadStoredDrive(registry, hive);
  if (!stored.key_opened) return std::string();
  return ShortString(stored.drive + "\\KOVA\\", kWorkingDirMax);
}

std::string StampValue(const std::string& version_text) {
  return Trim(version_text).substr(0, kVersionMax);
}

void StampCompanyFile(const std::string& version_text, platform::RootKey hive,
                      platform::Registry& registry, platform::Files& files,
                      ConsoleStream& console) {
  const std::string stamp = StampValue(version_text);
  const std::string working_dir = ReadWorkingDir(registry, hive);
  console.WriteLine("working dir: " + working_dir);

  const std::string name = working_dir + "dromfile.dat";
  platform::FileHandle handle = 0;
  if (platform::WinCode code = files.OpenExisting(name, &handle)) {
    console.WriteLine("Error: could not open " + name + "  error " + std::to_string(code) +
                      ".  Program will abort.");
    console.ReadLine();
    throw Error(ErrorKind::kAbort, "Operation aborted", RaiseSite::kCompanyOpenAbort);
  }
  OpenCompanyFile file(files, handle);

  CompanyRecord record;
  // The size is taken again before every record, so records that another
  // process appends meanwhile are stamped too.
  for (std::int64_t index = 1;; ++index) {
    std::uint64_t size = 0;
    Check(files.GetSize(file.handle(), &size));
    if (static_cast<std::uint64_t>(index) >= size / kRecordSize) break;
    const std::uint64_t position = static_cast<std::uint64_t>(index) * kRecordSize;

    std::uint32_t done = 0;
    Check(files.SetPosition(file.handle(), position));
    Check(files.Read(file.handle(), record.data(), kRecordSize, &done));
    if (done != kRecordSize) throw InOutError(100, RaiseSite::kCompanyIo);

    StampRecord(record, stamp);
    Check(files.SetPosition(file.handle(), position));
    Check(files.Write(file.handle(), record.data(), kRecordSize, &done));
    if (done != kRecordSize) throw InOutError(101, RaiseSite::kCompanyIo);

    console.WriteLine("Updated TARVEL" + std::to_string(index) + ": " + RecordName(record));
  }
  file.Close();
}

}  // namespace vendrel
