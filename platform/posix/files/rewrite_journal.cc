#include "platform/posix/files/rewrite_journal.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/posix/files/crash_point.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/temporary_file.h"
#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {
namespace {

// The attribute on the file that names its journal.
constexpr const char* kJournalAttribute = "user.vendrel.journal";
constexpr char kMagic[16] = {'V', 'E', 'N', 'D', 'R', 'E', 'L', ' ',
                             'J', 'O', 'U', 'R', 'N', 'A', 'L', '\n'};

// The journal's head: the file it belongs to, the content's length, and a
// checksum over both and the content.
struct Head {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t length = 0;
  std::uint64_t checksum = 0;
};
constexpr std::size_t kHeadSize = sizeof kMagic + 4 * sizeof(std::uint64_t);

bool Unsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

// FNV-1a, 64 bits: enough to tell a journal cut short from a whole one.
std::uint64_t Checksum(const Head& head, std::string_view content) {
  std::uint64_t hash = 14695981039346656037ULL;
  auto add = [&hash](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
  };
  add(&head.device, sizeof head.device);
  add(&head.inode, sizeof head.inode);
  add(&head.length, sizeof head.length);
  add(content.data(), content.size());
  return hash;
}

std::string EncodeHead(const Head& head) {
  std::string out(kMagic, sizeof kMagic);
  for (std::uint64_t field : {head.device, head.inode, head.length, head.checksum}) {
    for (int byte = 0; byte < 8; ++byte) out += static_cast<char>((field >> (8 * byte)) & 0xFF);
  }
  return out;
}

std::uint64_t DecodeField(std::string_view bytes) {
  std::uint64_t value = 0;
  for (int byte = 7; byte >= 0; --byte) {
    value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(byte)]);
  }
  return value;
}

// Where the journal of the file lies when the file cannot record it: beside
// the name used, named after the file's identity.
std::string FallbackJournalPath(const std::string& path, const struct stat& file) {
  char name[64];
  std::snprintf(name, sizeof name, "/.vendrel-journal.%llx.%llx",
                static_cast<unsigned long long>(file.st_dev),
                static_cast<unsigned long long>(file.st_ino));
  return DirectoryOf(path) + name;
}

std::string AbsolutePath(const std::string& path) {
  struct Free {
    void operator()(char* text) const { std::free(text); }
  };
  std::unique_ptr<char, Free> folder(realpath(DirectoryOf(path).c_str(), nullptr));
  if (!folder) return path;
  return std::string(folder.get()) + "/" + BaseNameOf(path);
}

// The journal the file records, or where its journal would lie.
bool PendingJournal(const std::string& path, int fd, const struct stat& file,
                    std::string* journal) {
  char recorded[PATH_MAX];
  ssize_t size = fgetxattr(fd, kJournalAttribute, recorded, sizeof recorded);
  if (size >= 0) {
    journal->assign(recorded, static_cast<std::size_t>(size));
    return true;
  }
  if (!Unsupported(errno)) return false;
  *journal = FallbackJournalPath(path, file);
  return access(journal->c_str(), F_OK) == 0;
}

// Opens the file for writing, as the very file that is locked.
int OpenForWriting(const std::string& path, const struct stat& file, UniqueFd* out) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return errno;
  struct stat now;
  if (fstat(fd.get(), &now) != 0) return errno;
  if (now.st_dev != file.st_dev || now.st_ino != file.st_ino) return ESTALE;
  *out = std::move(fd);
  return 0;
}

int Overwrite(int fd, std::string_view content) {
  if (int error = WriteAll(fd, content, 0); error != 0) return error;
  if (ftruncate(fd, static_cast<off_t>(content.size())) != 0) return errno;
  CrashPointAfter("ftruncate");
  return FlushFile(fd);
}

// Room for the new content before anything is overwritten, so that a full
// disk or a file-size limit leaves the file as it was.
int Reserve(int fd, const struct stat& file, std::size_t length) {
  if (static_cast<off_t>(length) <= file.st_size) return 0;
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      length > limit.rlim_cur) {
    return EFBIG;
  }
  // The size stays as it is: the blocks are held beyond the end.
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length)) != 0 &&
      !Unsupported(errno) && errno != ENOSYS) {
    return errno;
  }
  return 0;
}

void Forget(int fd, const std::string& journal) {
  fremovexattr(fd, kJournalAttribute);
  unlink(journal.c_str());
  CrashPointAfter("unlink(journal)");
}

}  // namespace

int RewriteInPlace(const std::string& path, const struct stat& file, const std::string& content) {
  UniqueFd fd;
  if (int error = OpenForWriting(path, file, &fd); error != 0) return error;
  if (int error = Reserve(fd.get(), file, content.size()); error != 0) return error;

  Head head{static_cast<std::uint64_t>(file.st_dev), static_cast<std::uint64_t>(file.st_ino),
            content.size(), 0};
  head.checksum = Checksum(head, content);
  const std::string journal = AbsolutePath(FallbackJournalPath(path, file));
  {
    // Readable by whoever may read the file, so that any of them can
    // complete the rewrite.
    UniqueFd out(open(journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                      file.st_mode & 0666));
    CrashPointAfter("open(journal)");
    if (!out) return errno;
    int error = WriteAll(out.get(), EncodeHead(head));
    if (error == 0) error = WriteAll(out.get(), content);
    if (error == 0) error = FlushFile(out.get());
    if (error == 0) error = out.Close();
    if (error != 0) {
      unlink(journal.c_str());
      return error;
    }
  }
  FlushFolder(DirectoryOf(journal));
  if (fsetxattr(fd.get(), kJournalAttribute, journal.data(), journal.size(), 0) != 0 &&
      !Unsupported(errno)) {
    int error = errno;
    unlink(journal.c_str());
    return error;
  }
  CrashPointAfter("fsetxattr(journal)");
  // From here a stop leaves the journal to complete the rewrite.
  if (int error = Overwrite(fd.get(), content); error != 0) return error;
  Forget(fd.get(), journal);
  FlushFolder(DirectoryOf(journal));
  return 0;
}

bool HasPendingRewrite(const std::string& path, int fd, const struct stat& file) {
  std::string journal;
  return PendingJournal(path, fd, file, &journal);
}

int CompletePendingRewrite(const std::string& path, int fd, const struct stat& file) {
  std::string journal;
  if (!PendingJournal(path, fd, file, &journal)) return 0;
  std::string bytes;
  {
    UniqueFd in(open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!in) {
      if (errno != ENOENT) return errno;
      // The rewrite was completed and only the record of it is left.
      fremovexattr(fd, kJournalAttribute);
      return 0;
    }
    if (int error = ReadToEnd(in.get(), &bytes); error != 0) return error;
  }
  Head head;
  bool whole = bytes.size() >= kHeadSize && std::memcmp(bytes.data(), kMagic, sizeof kMagic) == 0;
  if (whole) {
    std::string_view fields(bytes.data() + sizeof kMagic, 32);
    head = Head{DecodeField(fields.substr(0, 8)), DecodeField(fields.substr(8, 8)),
                DecodeField(fields.substr(16, 8)), DecodeField(fields.substr(24, 8))};
    whole = head.length == bytes.size() - kHeadSize &&
            head.checksum == Checksum(head, std::string_view(bytes).substr(kHeadSize));
  }
  if (whole && (head.device != static_cast<std::uint64_t>(file.st_dev) ||
                head.inode != static_cast<std::uint64_t>(file.st_ino))) {
    // Another file's journal, its record copied here with the attributes.
    fremovexattr(fd, kJournalAttribute);
    return 0;
  }
  if (whole) {
    UniqueFd out;
    if (int error = OpenForWriting(path, file, &out); error != 0) return error;
    if (int error = Overwrite(out.get(), std::string_view(bytes).substr(kHeadSize)); error != 0) {
      return error;
    }
  }
  // A journal cut short was never acted on: the file is as it was.
  Forget(fd, journal);
  if (access(journal.c_str(), F_OK) == 0) return EACCES;  // it would be replayed again
  FlushFolder(DirectoryOf(journal));
  return 0;
}

}  // namespace vendrel::platform
