#include "platform/posix/files/rewrite_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/crash_point.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/files/placed_file.h"
#include "platform/posix/files/unique_fd.h"

namespace vendrel::platform {
namespace {

constexpr char kMagic[16] = {'V', 'E', 'N', 'D', 'R', 'E', 'L', ' ',
                             'J', 'O', 'U', 'R', 'N', 'A', 'L', '2'};
// The same head, followed by pages: each its offset, its length and its
// bytes; the head's length is the file's new length.
constexpr char kPagesMagic[16] = {'V', 'E', 'N', 'D', 'R', 'E', 'L', ' ',
                                  'J', 'O', 'U', 'R', 'N', 'A', 'L', 'P'};
constexpr std::size_t kPage = kComparedPage;
constexpr std::string_view kSuffix = ".vendrel-journal";
constexpr std::size_t kNameMax = 255;
// Magic, inode, length, checksum, the name's length, and the name.
constexpr std::size_t kFixedHead = sizeof kMagic + std::size_t{3} * 8 + 4;
constexpr std::size_t kLargestHead = kFixedHead + kNameMax;
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;

// The journal's head: the file it belongs to (by inode and by the name it
// stands beside, which a disk keeps wherever it is mounted), the content's
// length, and a checksum over all of them and the content.
struct Head {
  std::uint64_t inode = 0;
  std::uint64_t length = 0;
  std::uint64_t checksum = 0;
  std::string name;
};

// FNV-1a, 64 bits: enough to tell a journal cut short from a whole one.
std::uint64_t Checksum(const Head& head, std::string_view content) {
  std::uint64_t hash = 14695981039346656037ULL;
  auto add = [&hash](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
  };
  add(&head.inode, sizeof head.inode);
  add(&head.length, sizeof head.length);
  add(head.name.data(), head.name.size());
  add(content.data(), content.size());
  return hash;
}

std::string EncodeHead(const Head& head, const char (&magic)[16] = kMagic) {
  std::string out(magic, sizeof magic);
  PutField(&out, head.inode, 8);
  PutField(&out, head.length, 8);
  PutField(&out, head.checksum, 8);
  PutField(&out, head.name.size(), 4);
  return out + head.name;
}

Head HeadFor(const JournalSite& site, std::string_view content) {
  Head head{static_cast<std::uint64_t>(site.file.st_ino), content.size(), 0, site.name};
  head.checksum = Checksum(head, content);
  return head;
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
  return static_cast<off_t>(length) <= file.st_size ? 0 : HoldRoom(fd, length);
}

// Whether this program could have written what stands at the journal's
// name, for this file, judged by its status alone.
bool MayBeOurs(const struct stat& journal, const struct stat& file, std::size_t cap) {
  return S_ISREG(journal.st_mode) && journal.st_nlink == 1 &&
         (journal.st_uid == geteuid() || journal.st_uid == file.st_uid) &&
         (journal.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
         static_cast<std::uint64_t>(journal.st_size) <=
             cap + cap / kPage * kPageRecordHead + kLargestHead;
}

// The file's content as a whole journal of pages completes it: the file as
// it stands (perhaps torn by a stopped run, but only in the pages the
// journal holds), cut or grown to its new length, with the pages put in.
// A journal whose length asks for growth its pages do not bring is not one
// this program wrote, which keeps memory within the file's size and the
// journal's.
JournalState PutPages(const JournalSite& site, std::uint64_t length, std::string_view pages,
                      std::string* content) {
  std::vector<Stretch> stretches;
  for (std::string_view rest = pages; !rest.empty();) {
    std::uint64_t at = 0;
    std::string_view bytes;
    if (!TakePageRecord(&rest, &at, &bytes)) return JournalState::kForeign;
    // This program never writes an empty page.
    if (bytes.empty() || bytes.size() > kPage || at > length || bytes.size() > length - at) {
      return JournalState::kForeign;
    }
    stretches.push_back({at, bytes.size()});
  }
  if (length > site.cap ||
      !CoversGrowth(static_cast<std::uint64_t>(site.file.st_size), length, std::move(stretches))) {
    return JournalState::kForeign;
  }
  if (lseek(site.fd, 0, SEEK_SET) != 0 || ReadToEnd(site.fd, content, site.cap) != 0 ||
      lseek(site.fd, 0, SEEK_SET) != 0) {
    return JournalState::kForeign;
  }
  content->resize(length);
  for (std::string_view rest = pages; !rest.empty();) {
    std::uint64_t at = 0;
    std::string_view bytes;
    TakePageRecord(&rest, &at, &bytes);
    content->replace(at, bytes.size(), bytes);
  }
  return JournalState::kWhole;
}

// A journal read whole: kWhole with its content, kTorn when it is a
// beginning of this file's journal, kForeign for anything else.
JournalState Judge(const JournalSite& site, const std::string& bytes, std::string* content) {
  const std::string_view magic(kMagic, sizeof kMagic);
  if (bytes.size() < kFixedHead) {
    // Stopped while the head was written: what is there must begin as a
    // head does.
    const std::size_t common = std::min(bytes.size(), magic.size());
    return bytes.compare(0, common, magic.substr(0, common)) == 0 ? JournalState::kTorn
                                                                  : JournalState::kForeign;
  }
  const bool pages = bytes.compare(0, magic.size(), std::string_view(kPagesMagic, 16)) == 0;
  if (!pages && bytes.compare(0, magic.size(), magic) != 0) return JournalState::kForeign;
  Head head;
  head.inode = Field(bytes, sizeof kMagic, 8);
  head.length = Field(bytes, sizeof kMagic + 8, 8);
  head.checksum = Field(bytes, sizeof kMagic + 16, 8);
  const std::uint64_t name_length = Field(bytes, sizeof kMagic + 24, 4);
  if (name_length > kNameMax) return JournalState::kForeign;
  if (bytes.size() < kFixedHead + name_length) return JournalState::kTorn;
  head.name = bytes.substr(kFixedHead, name_length);
  if (head.inode != static_cast<std::uint64_t>(site.file.st_ino) || head.name != site.name) {
    return JournalState::kForeign;
  }
  std::string_view body = std::string_view(bytes).substr(kFixedHead + name_length);
  if (pages) {
    if (head.checksum != Checksum(head, body)) return JournalState::kTorn;
    return PutPages(site, head.length, body, content);
  }
  if (head.length != body.size() || head.checksum != Checksum(head, body)) {
    return JournalState::kTorn;
  }
  content->assign(body);
  return JournalState::kWhole;
}

// Writes the journal, head and body, as a new file at its name, flushed
// with its folder; on a failure, none. It holds the file's new content, so
// nobody but the file's owner may read it, whatever the file or the folder
// grant (a user the file's ACL denies must never see it): mode 0600, owned
// as the file is where the running user may give it away, and nothing else
// carried over, as the file keeps its own attributes when it is replayed.
// EBUSY when the name is taken.
int WriteJournal(const JournalSite& site, const std::string& journal, std::string_view head,
                 std::string_view body) {
  UniqueFd out(openat(site.folder, journal.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags,
                      S_IRUSR | S_IWUSR));
  CrashPointAfter("open(journal)");
  if (!out) return errno == EEXIST ? EBUSY : errno;
  // Given the file's owner where the running user may; else the journal
  // stays the running user's own, which is as private. A folder's default
  // ACL may have given it entries of its own: the mode's group class of
  // none leaves them no rights.
  [[maybe_unused]] const int given_away = fchown(out.get(), site.file.st_uid, site.file.st_gid);
  int error = fchmod(out.get(), S_IRUSR | S_IWUSR) == 0 ? 0 : errno;
  if (error == 0) error = WriteAll(out.get(), head);
  if (error == 0) error = WriteAll(out.get(), body);
  if (error == 0) error = FlushFile(out.get());
  if (error == 0) error = out.Close();
  if (error != 0) {
    unlinkat(site.folder, journal.c_str(), 0);
    return error;
  }
  FlushFolder(site.folder);
  return 0;
}

void Drop(const JournalSite& site, const std::string& journal) {
  unlinkat(site.folder, journal.c_str(), 0);
  CrashPointAfter("unlink(journal)");
  FlushFolder(site.folder);
}

}  // namespace

std::string JournalNameOf(const std::string& name) {
  return "." + name.substr(0, kNameMax - 1 - kSuffix.size()) + std::string(kSuffix);
}

JournalState FindJournal(const JournalSite& site, std::string* content) {
  const std::string journal = JournalNameOf(site.name);
  struct stat seen;
  if (fstatat(site.folder, journal.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? JournalState::kNone : JournalState::kForeign;
  }
  if (!MayBeOurs(seen, site.file, site.cap)) return JournalState::kForeign;
  UniqueFd in(openat(site.folder, journal.c_str(), O_RDONLY | kOpenFlags));
  if (!in && (errno == EACCES || errno == EPERM)) return JournalState::kRefused;
  struct stat held;
  if (!in || fstat(in.get(), &held) != 0 || held.st_ino != seen.st_ino ||
      held.st_dev != seen.st_dev || !MayBeOurs(held, site.file, site.cap)) {
    return JournalState::kForeign;
  }
  std::string bytes;
  if (ReadToEnd(in.get(), &bytes, site.cap + site.cap / kPage * kPageRecordHead + kLargestHead) !=
      0) {
    return JournalState::kForeign;
  }
  return Judge(site, bytes, content);
}

int RewriteInPlace(const JournalSite& site, const std::string& content) {
  if (int error = Reserve(site.fd, site.file, content.size()); error != 0) return error;
  const std::string journal = JournalNameOf(site.name);
  if (int error = WriteJournal(site, journal, EncodeHead(HeadFor(site, content)), content);
      error != 0) {
    return error;
  }
  // From here a stop leaves the journal to complete the rewrite.
  if (int error = Overwrite(site.fd, content); error != 0) return error;
  Drop(site, journal);
  return 0;
}

int CompletePendingRewrite(const JournalSite& site, std::string* pending) {
  std::string content;
  switch (FindJournal(site, &content)) {
    case JournalState::kNone:
      return 0;
    case JournalState::kForeign:
      return EBUSY;
    case JournalState::kRefused:
      return EACCES;
    case JournalState::kWhole:
      if (pending != nullptr) {
        *pending = std::move(content);
        return 0;
      }
      if (int error = Overwrite(site.fd, content); error != 0) return error;
      break;
    case JournalState::kTorn:
      break;  // never acted on: the file is as it was
  }
  Drop(site, JournalNameOf(site.name));
  return 0;
}

void DropJournal(const JournalSite& site) { Drop(site, JournalNameOf(site.name)); }

}  // namespace vendrel::platform
