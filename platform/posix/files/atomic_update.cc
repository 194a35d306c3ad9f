#include "platform/posix/files/atomic_update.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/files/crash_point.h"
#include "platform/posix/files/file_identity.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/rewrite_journal.h"
#include "platform/posix/files/temporary_file.h"

namespace vendrel::platform {
namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask, as any new file
constexpr int kLockPollMilliseconds = 20;
// A name that keeps standing for another file at every look is given up.
constexpr int kMaxReplacedWhileLocking = 100;

// Takes the lock, waiting a while for another holder to let it go.
int LockWithin(int fd, int operation) {
  for (int waited = 0;;) {
    if (flock(fd, operation | LOCK_NB) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return errno;
    if (waited >= kLockWaitMilliseconds) return EAGAIN;
    usleep(kLockPollMilliseconds * 1000);
    waited += kLockPollMilliseconds;
  }
}

// Opens the placed file and takes its lock, as the file that stands at the
// name when the lock is granted: another run may have replaced it meanwhile.
int OpenLocked(const PlacedFile& placed, int flags, int operation, UniqueFd* fd,
               struct stat* held) {
  for (int attempt = 0; attempt < kMaxReplacedWhileLocking; ++attempt) {
    UniqueFd opened;
    if (int error = OpenPlaced(placed, flags, &opened, held); error != 0) return error;
    if (int error = LockWithin(opened.get(), operation); error != 0) return error;
    if (fstat(opened.get(), held) != 0) return errno;
    if (!StillPlaced(placed, *held)) continue;
    *fd = std::move(opened);
    return 0;
  }
  return EAGAIN;
}

// The room held past the content's end is not kept by the file it becomes.
void GiveBackRoom(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_blocks * 512 <= st.st_size) return;
  fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, st.st_size,
            st.st_blocks * 512 - st.st_size);
}

LockedFile::Writer WriterOf(const std::string& content) {
  return [&content](int fd) { return WriteAll(fd, content); };
}

// A missing file is created by linking a finished temporary file into
// place, which fails rather than overwrite a file another run just made.
// Returns EEXIST when that happened, and the caller starts over.
int CreateNew(const PlacedFile& placed, const FileEdit& edit) {
  const std::string* content = edit(nullptr);
  if (content == nullptr) return 0;
  const int folder = placed.folder.get();
  ClearDeadTemporaries(folder);
  TemporaryFile temporary;
  if (int error = CreateTemporary(folder, placed.name, kNewFileMode, &temporary); error != 0) {
    return error;
  }
  int error = WriteAll(temporary.fd.get(), *content);
  if (error == 0) error = FlushFile(temporary.fd.get());
  if (error == 0) error = LinkTemporaryAs(temporary, placed.name);
  RemoveTemporary(&temporary);
  if (error != 0) return error;
  FlushFolder(folder);
  return 0;
}

// The temporary file's content, read through its own descriptor, for a
// file that is to be rewritten in place after all.
int ReadBack(const TemporaryFile& temporary, std::size_t cap, std::string* content) {
  if (lseek(temporary.fd.get(), 0, SEEK_SET) != 0) return errno;
  return ReadToEnd(temporary.fd.get(), content, cap);
}

}  // namespace

int LockedFile::Lock(const PlacedFile& placed, std::size_t cap, LockedFile* locked,
                     std::string* pending) {
  UniqueFd folder(fcntl(placed.folder.get(), F_DUPFD_CLOEXEC, 0));
  if (!folder) return errno;
  UniqueFd fd;
  struct stat held;
  if (int error = OpenLocked(placed, O_RDWR, LOCK_EX, &fd, &held); error != 0) return error;
  if ((held.st_mode & 0222) == 0) return EACCES;
  if (static_cast<std::uint64_t>(held.st_size) > cap) return EOVERFLOW;
  JournalSite site{folder.get(), placed.name, fd.get(), held, cap};
  if (int error = CompletePendingRewrite(site, pending); error != 0) return error;
  if (fstat(fd.get(), &held) != 0) return errno;
  ClearDeadTemporaries(folder.get());
  locked->folder_ = std::move(folder);
  locked->name_ = placed.name;
  locked->cap_ = cap;
  locked->fd_ = std::move(fd);
  locked->held_ = held;
  return 0;
}

void LockedFile::DropJournal() {
  vendrel::platform::DropJournal(JournalSite{folder_.get(), name_, fd_.get(), held_, cap_});
}

LockedFile::~LockedFile() {
  if (reserved_.fd) RemoveTemporary(&reserved_);
}

int LockedFile::HoldBeside(std::size_t length) {
  if (length <= reserved_length_) return 0;
  if (!reserved_.fd) {
    if (int error = CreateTemporary(folder_.get(), name_, S_IRUSR | S_IWUSR, &reserved_);
        error != 0) {
      return error;
    }
  }
  if (int error = HoldRoom(reserved_.fd.get(), length); error != 0) return error;
  reserved_length_ = length;
  return 0;
}

void LockedFile::GiveUpRoom() {
  if (reserved_.fd) RemoveTemporary(&reserved_);
  reserved_length_ = 0;
}

int LockedFile::Reserve(std::size_t length) {
  // A file rewritten in place grows where it is.
  if (held_.st_nlink > 1) return ReserveInPlace(length, length);
  return HoldBeside(length);
}

int LockedFile::ReserveInPlace(std::size_t length, std::size_t journal) {
  // The growth is held beside the file too: blocks held past the file's
  // end would cost a truncation to give back.
  const std::size_t growth = static_cast<off_t>(length) > held_.st_size
                                 ? length - static_cast<std::size_t>(held_.st_size)
                                 : 0;
  if (static_cast<off_t>(length) > held_.st_size) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        length > limit.rlim_cur) {
      return EFBIG;
    }
  }
  return HoldBeside(journal + growth);
}

int LockedFile::WriteTemporary(const Writer& write, TemporaryFile* temporary) {
  if (reserved_.fd) {
    *temporary = std::move(reserved_);
    reserved_length_ = 0;
  } else if (int error = CreateTemporary(folder_.get(), name_, S_IRUSR | S_IWUSR, temporary);
             error != 0) {
    return error;
  }
  int error = write(temporary->fd.get());
  if (error == 0) GiveBackRoom(temporary->fd.get());
  if (error == 0) error = FlushFile(temporary->fd.get());
  if (error != 0) RemoveTemporary(temporary);
  return error;
}

int LockedFile::Replace(const std::string& content) {
  if (held_.st_nlink > 1) {
    GiveUpRoom();  // to the journal
    return RewriteInPlace(JournalSite{folder_.get(), name_, fd_.get(), held_, cap_}, content);
  }
  return ReplaceWith(WriterOf(content));
}

int LockedFile::ReplaceWith(const Writer& write) {
  TemporaryFile temporary;
  if (int error = WriteTemporary(write, &temporary); error != 0) return error;
  if (held_.st_nlink > 1 || !CarryIdentity(fd_.get(), held_, temporary.fd.get())) {
    std::string content;
    int error = ReadBack(temporary, cap_, &content);
    RemoveTemporary(&temporary);
    if (error != 0) return error;
    return RewriteInPlace(JournalSite{folder_.get(), name_, fd_.get(), held_, cap_}, content);
  }
  if (int error = NameTemporary(&temporary); error != 0) {
    RemoveTemporary(&temporary);
    return error;
  }
  return PutInPlace(&temporary);
}

int LockedFile::PutInPlace(TemporaryFile* temporary) {
  // In a folder others may write, the temporary's name can be taken over
  // between its link and the rename: what the rename brings into place is
  // checked to be the temporary file, and where the file system can
  // exchange the two names, a stranger's entry never stays in place.
  const int folder = folder_.get();
  struct stat ours;
  if (fstat(temporary->fd.get(), &ours) != 0) return errno;
  const bool exchanged =
      renameat2(folder, temporary->name.c_str(), folder, name_.c_str(), RENAME_EXCHANGE) == 0;
  int error = exchanged ? 0 : errno;
  if (!exchanged && (error == EINVAL || error == ENOSYS)) {
    error = renameat(folder, temporary->name.c_str(), folder, name_.c_str()) == 0 ? 0 : errno;
  }
  CrashPointAfter("rename");
  if (error != 0) {
    RemoveTemporary(temporary);
    return error;
  }
  struct stat placed;
  const bool ours_in_place = fstatat(folder, name_.c_str(), &placed, AT_SYMLINK_NOFOLLOW) == 0 &&
                             placed.st_ino == ours.st_ino && placed.st_dev == ours.st_dev;
  if (!ours_in_place) {
    if (exchanged) {
      // The old file back in its place; the stranger's entry goes.
      renameat2(folder, temporary->name.c_str(), folder, name_.c_str(), RENAME_EXCHANGE);
    }
    RemoveTemporary(temporary);
    return ESTALE;
  }
  // Under the temporary's name now stands the old file (after an exchange),
  // or nothing.
  RemoveTemporary(temporary);
  FlushFolder(folder);
  return 0;
}

int SettledFile::Open(const PlacedFile& placed, std::size_t cap, SettledFile* settled) {
  UniqueFd fd;
  struct stat held;
  if (int error = OpenLocked(placed, O_RDONLY, LOCK_SH, &fd, &held); error != 0) return error;
  if (static_cast<std::uint64_t>(held.st_size) > cap) return EOVERFLOW;
  std::string pending;
  switch (
      FindJournal(JournalSite{placed.folder.get(), placed.name, fd.get(), held, cap}, &pending)) {
    case JournalState::kForeign:
      return EBUSY;
    case JournalState::kRefused:
      return EACCES;  // its content is the file owner's to see
    case JournalState::kWhole: {
      // The writer who completes it needs the right to write; a reader
      // reads what it completes the file to.
      UniqueFd copy(memfd_create("vendrel-settled", MFD_CLOEXEC));
      if (!copy) return errno;
      if (int error = WriteAll(copy.get(), pending, 0); error != 0) return error;
      settled->content_ = std::move(copy);
      break;
    }
    case JournalState::kNone:
    case JournalState::kTorn:
      break;
  }
  settled->fd_ = std::move(fd);
  settled->held_ = held;
  return 0;
}

int ReadWholeFile(const PlacedFile& placed, std::size_t cap, std::string* content) {
  SettledFile settled;
  if (int error = SettledFile::Open(placed, cap, &settled); error != 0) return error;
  return ReadToEnd(settled.fd(), content, cap);
}

int MayWrite(const PlacedFile& placed) {
  struct stat st;
  if (int error = StatPlaced(placed, &st); error != 0) return error;
  if ((st.st_mode & 0222) == 0) return EACCES;
  if (faccessat(placed.folder.get(), placed.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) !=
      0) {
    return errno;
  }
  return 0;
}

int UpdateFileAtomically(const PlacedFile& placed, WhenMissing when_missing, std::size_t cap,
                         const FileEdit& edit) {
  for (;;) {
    LockedFile locked;
    int error = LockedFile::Lock(placed, cap, &locked);
    if (error == ENOENT && when_missing == WhenMissing::kCreate) {
      error = CreateNew(placed, edit);
      if (error == EEXIST) continue;
      return error;
    }
    if (error != 0) return error;
    std::string old_content;
    if (int read = ReadToEnd(locked.fd(), &old_content, cap); read != 0) return read;
    const std::string* content = edit(&old_content);
    if (content == nullptr) return 0;
    return locked.Replace(*content);
  }
}

}  // namespace vendrel::platform
