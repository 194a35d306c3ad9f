#include "company/company_stamp.h"

#include "base/error.h"
#include "base/text.h"
#include "company/company_record.h"

namespace vendrel {
namespace {

// The company file while it is open. A run that ends in an error releases
// it on the way out; the normal path closes it and checks the result.
class OpenCompanyFile {
 public:
  OpenCompanyFile(platform::Files& files, platform::FileHandle handle)
      : files_(files), handle_(handle) {}
  ~OpenCompanyFile() {
    if (open_) files_.Close(handle_).IgnoreFailure();
  }
  OpenCompanyFile(const OpenCompanyFile&) = delete;
  OpenCompanyFile& operator=(const OpenCompanyFile&) = delete;

  platform::FileHandle handle() const { return handle_; }

  void Close() {
    open_ = false;
    Result closed = files_.Close(handle_);
    if (!closed.ok()) throw InOutError(closed.code(), RaiseSite::kCompanyClose);
  }

 private:
  platform::Files& files_;
  platform::FileHandle handle_;
  bool open_ = true;
};

void Check(const Result& result) {
  if (!result.ok()) throw InOutError(result.code(), RaiseSite::kCompanyIo);
}

}  // namespace

std::string WorkingDir(const std::optional<std::string>& stored_drive) {
  if (!stored_drive) return std::string();
  return ShortString(*stored_drive + "\\KOVA\\", kWorkingDirMax);
}

std::string StampValue(const std::string& version_text) {
  return Trim(version_text).substr(0, kVersionMax);
}

void StampCompanyFile(const std::string& version_text,
                      const std::optional<std::string>& stored_drive, platform::Files& files,
                      Dialogue& dialogue) {
  const std::string stamp = StampValue(version_text);
  const std::string working_dir = WorkingDir(stored_drive);
  dialogue.WriteLine("working dir: " + working_dir);

  const std::string name = working_dir + "dromfile.dat";
  platform::FileHandle handle = 0;
  if (Result opened = files.OpenExisting(name, &handle); !opened.ok()) {
    dialogue.WriteLine("Error: could not open " + name + "  error " +
                       std::to_string(opened.code()) + ".  Program will abort.");
    dialogue.ReadLine();
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

    dialogue.WriteLine("Updated TARVEL" + std::to_string(index) + ": " + RecordName(record));
  }
  file.Close();
}

}  // namespace vendrel
