#include "platform/posix/files/rewrite_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/posix/files/unique_fd.h"
#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

constexpr const char* kOld = "old content, longer than the new";

std::string Field(std::uint64_t value, int bytes) {
  std::string out;
  for (int byte = 0; byte < bytes; ++byte) out += static_cast<char>(value >> (8 * byte));
  return out;
}

// The journal a run stopped halfway would leave, written here on its own:
// magic, inode, length, FNV-1a checksum, the name's length, name, content.
// A journal of pages has the file's new length and, for content, pages.
std::string Journal(ino_t inode, const std::string& name, const std::string& content,
                    const char* magic = "VENDREL JOURNAL2", std::size_t length = 0) {
  const std::string covered = Field(inode, 8) + Field(length != 0 ? length : content.size(), 8);
  std::uint64_t hash = 14695981039346656037ULL;
  for (const std::string* part : {&covered, &name, &content}) {
    for (unsigned char c : *part) hash = (hash ^ c) * 1099511628211ULL;
  }
  return magic + covered + Field(hash, 8) + Field(name.size(), 4) + name + content;
}

// A page of a journal of pages: its offset, its length, its bytes.
std::string Page(std::size_t at, const std::string& bytes) {
  return Field(at, 8) + Field(bytes.size(), 4) + bytes;
}

class RewriteJournalTest : public ::testing::Test {
 public:
  RewriteJournalTest() {
    WriteFile(path_, kOld);
    std::filesystem::create_directory(dir_ / "other");
    std::filesystem::create_hard_link(path_, dir_ / "other/second");
  }

  // The file as a caller holds it: its folder, and the file open.
  JournalSite Site(const std::string& folder) {
    folder_ = UniqueFd(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    fd_ = UniqueFd(open((folder + "/settings.ini").c_str(), O_RDWR | O_CLOEXEC));
    JournalSite site{folder_.get(), "settings.ini", fd_.get(), {}, 1 << 20};
    fstat(fd_.get(), &site.file);
    return site;
  }

  static ino_t InodeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ino;
  }

  ScratchFolder dir_;
  std::string path_ = dir_ / "settings.ini";
  std::string journal_ = dir_ / ".settings.ini.vendrel-journal";
  UniqueFd folder_;
  UniqueFd fd_;
};

TEST_F(RewriteJournalTest, EveryNameSeesTheNewContentAndNothingIsLeft) {
  ASSERT_EQ(RewriteInPlace(Site(dir_.path()), "new"), 0);
  EXPECT_EQ(ReadFile(path_), "new");
  EXPECT_EQ(ReadFile(dir_ / "other/second"), "new");
  EXPECT_EQ(std::filesystem::hard_link_count(path_), 2u);
  int entries = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 2);  // the file and the other folder
}

// A journal of just the pages that change, as an earlier version left one
// beside a hive, completes the file in place: every name stays one file,
// it grows or shrinks to the new length, and no journal is left.
TEST_F(RewriteJournalTest, AJournalOfPagesLeavesTheNewContentInPlace) {
  const std::string pages = std::string(4096, 'a') + std::string(4096, 'b');
  const std::string three = pages.substr(0, 4096) + pages.substr(0, 4096) + pages.substr(0, 4096);
  const std::string after = pages + pages.substr(0, 4096) + "tail";
  for (const std::string& before : {three, three + pages.substr(4096)}) {
    WriteFile(path_, before);
    const ino_t inode = InodeOf(path_);
    const JournalSite site = Site(dir_.path());
    const std::string records = Page(4096, pages.substr(4096)) + Page(12288, "tail");
    WriteFile(journal_, Journal(inode, "settings.ini", records, "VENDREL JOURNALP", after.size()));
    chmod(journal_.c_str(), 0600);
    ASSERT_EQ(CompletePendingRewrite(site), 0);
    EXPECT_EQ(ReadFile(dir_ / "other/second"), after);
    EXPECT_EQ(InodeOf(path_), inode);
    EXPECT_FALSE(std::filesystem::exists(journal_));
  }
}

// What a later run finds at the journal's name, and what it does: a journal
// of this program's for this file completes the rewrite or, cut short, is
// dropped; anything else is left as it is and the file counts as in use.
TEST_F(RewriteJournalTest, OnlyItsOwnJournalIsActedOn) {
  struct Case {
    const char* what;
    std::function<void(RewriteJournalTest&)> leave;
    int expected;
    const char* content_after;
    bool journal_kept;
  };
  const std::string whole = Journal(InodeOf(path_), "settings.ini", "completed");
  // "old content, longer than the new" with two stretches replaced, cut to 20.
  const std::string pages = Journal(InodeOf(path_), "settings.ini", Page(0, "new") + Page(13, "LO"),
                                    "VENDREL JOURNALP", 20);
  const Case cases[] = {
      {"a whole journal", [&](auto& t) { WriteFile(t.journal_, whole); }, 0, "completed", false},
      {"a whole journal of pages", [&](auto& t) { WriteFile(t.journal_, pages); }, 0,
       "new content, LOnger ", false},
      {"a journal of pages cut short",
       [&](auto& t) { WriteFile(t.journal_, pages.substr(0, pages.size() - 1)); }, 0, kOld, false},
      {"pages past the new length",
       [&](auto& t) {
         WriteFile(t.journal_, Journal(InodeOf(t.path_), "settings.ini", Page(18, "xyz"),
                                       "VENDREL JOURNALP", 20));
       },
       EBUSY, kOld, true},
      {"growth its pages bring",
       [&](auto& t) {
         WriteFile(t.journal_, Journal(InodeOf(t.path_), "settings.ini", Page(32, "+tail"),
                                       "VENDREL JOURNALP", 37));
       },
       0, "old content, longer than the new+tail", false},
      {"growth its pages do not bring",
       [&](auto& t) {
         WriteFile(t.journal_, Journal(InodeOf(t.path_), "settings.ini", Page(0, "new"),
                                       "VENDREL JOURNALP", 1 << 19));
       },
       EBUSY, kOld, true},
      {"empty pages",
       [&](auto& t) {
         WriteFile(t.journal_, Journal(InodeOf(t.path_), "settings.ini", Page(0, "") + Page(0, ""),
                                       "VENDREL JOURNALP", 32));
       },
       EBUSY, kOld, true},
      {"a journal cut short", [&](auto& t) { WriteFile(t.journal_, whole.substr(0, 60)); }, 0, kOld,
       false},
      {"a head cut short", [&](auto& t) { WriteFile(t.journal_, whole.substr(0, 10)); }, 0, kOld,
       false},
      {"another inode's",
       [&](auto& t) {
         WriteFile(t.journal_, Journal(InodeOf(t.path_) + 1, "settings.ini", "other"));
       },
       EBUSY, kOld, true},
      {"another name's",
       [&](auto& t) { WriteFile(t.journal_, Journal(InodeOf(t.path_), "second", "other")); }, EBUSY,
       kOld, true},
      {"one others may write",
       [&](auto& t) {
         WriteFile(t.journal_, whole);
         chmod(t.journal_.c_str(), 0666);
       },
       EBUSY, kOld, true},
      {"one with a second name",
       [&](auto& t) {
         WriteFile(t.journal_, whole);
         std::filesystem::create_hard_link(t.journal_, t.dir_ / "other/journal");
       },
       EBUSY, kOld, true},
      {"a link to a journal",
       [&](auto& t) {
         WriteFile(t.dir_ / "other/real", whole);
         std::filesystem::create_symlink(t.dir_ / "other/real", t.journal_);
       },
       EBUSY, kOld, true},
      {"a FIFO", [&](auto& t) { mkfifo(t.journal_.c_str(), 0600); }, EBUSY, kOld, true},
      {"anything else", [&](auto& t) { WriteFile(t.journal_, "a user's own notes"); }, EBUSY, kOld,
       true},
  };
  for (const Case& c : cases) {
    WriteFile(path_, kOld);
    std::filesystem::remove(journal_);
    std::filesystem::remove(dir_ / "other/journal");
    c.leave(*this);
    EXPECT_EQ(CompletePendingRewrite(Site(dir_.path())), c.expected) << c.what;
    EXPECT_EQ(ReadFile(dir_ / "other/second"), c.content_after) << c.what;
    EXPECT_EQ(
        std::filesystem::symlink_status(journal_).type() != std::filesystem::file_type::not_found,
        c.journal_kept)
        << c.what;
  }
}

TEST_F(RewriteJournalTest, AJournalOwnedByAnotherUserIsLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give the journal to another user";
  WriteFile(journal_, Journal(InodeOf(path_), "settings.ini", "planted"));
  ASSERT_EQ(chown(journal_.c_str(), 65534, 65534), 0);
  EXPECT_EQ(CompletePendingRewrite(Site(dir_.path())), EBUSY);
  EXPECT_EQ(ReadFile(path_), kOld);
  EXPECT_TRUE(std::filesystem::exists(journal_));
}

TEST_F(RewriteJournalTest, ARewriteStoppedHalfwayIsCompletedWhereverTheDiskIsMounted) {
  WriteFile(journal_, Journal(InodeOf(path_), "settings.ini", "completed"));
  WriteFile(path_, "torn cont");  // the overwrite stopped halfway
  const std::string moved = dir_.path() + "-moved";
  std::filesystem::rename(dir_.path(), moved);
  std::string content;
  JournalSite site = Site(moved);
  EXPECT_EQ(FindJournal(site, &content), JournalState::kWhole);
  EXPECT_EQ(content, "completed");
  EXPECT_EQ(CompletePendingRewrite(site), 0);
  EXPECT_EQ(ReadFile(moved + "/other/second"), "completed");
  std::filesystem::rename(moved, dir_.path());
}

}  // namespace
}  // namespace vendrel::platform
