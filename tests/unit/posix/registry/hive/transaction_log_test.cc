#include "platform/posix/registry/hive/transaction_log.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <hivex.h>

#include <cstdlib>
#include <memory>

#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/marvin32.h"
#include "support/hive_maker.h"
#include "support/log_maker.h"

namespace vendrel::platform {
namespace {

using testing::BinsAsPages;
using testing::HiveKey;
using testing::HiveLayout;
using testing::LogBase;
using testing::LogEntryShape;
using testing::LogPage;
using testing::MakeDirtyVectorLog;
using testing::MakeHive;
using testing::MakeLog;

std::string Sample(const std::string& name) {
  std::ifstream in(std::string(VENDREL_SAMPLE_HIVES) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// hivex, a reader of hives this program does not use, as the judge.
struct CloseHive {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HiveHandle = std::unique_ptr<hive_h, CloseHive>;

HiveHandle OpenInHivex(const std::string& bytes) {
  const int fd = memfd_create("transaction-log-test", MFD_CLOEXEC);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  HiveHandle hive(hivex_open(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0));
  close(fd);
  return hive;
}

std::size_t CountKeys(hive_h* hive, hive_node_h node) {
  std::unique_ptr<hive_node_h, void (*)(void*)> children(hivex_node_children(hive, node),
                                                         std::free);
  std::size_t count = 1;
  for (std::size_t i = 0; children && children.get()[i] != 0; ++i) {
    count += CountKeys(hive, children.get()[i]);
  }
  return count;
}

// The hive as the tests find it on disk, and the hive its log brings it to:
// one key more, and a value big enough to need a bin of its own.
std::string StaleHive() {
  HiveKey root{"ROOT", {}, {}, {}};
  root.Child("Software").Child("Tarvel Global");
  HiveLayout dirty;
  dirty.primary_sequence = 8;
  dirty.secondary_sequence = 7;
  return MakeHive(root, dirty);
}

std::string NewerHive() {
  HiveKey root{"ROOT", {}, {}, {}};
  root.Child("Software")
      .Child("Tarvel Global")
      .values.push_back({"Big", 3, std::string(6000, 'b')});
  root.Child("Software").Child("FromLog");
  return MakeHive(root);
}

std::uint32_t BinsSize(const std::string& hive) {
  return static_cast<std::uint32_t>(hive.size() - kHiveBaseBlock);
}

LogEntryShape Entry(std::uint32_t sequence, const std::string& image) {
  return LogEntryShape{sequence, BinsSize(image), 0, BinsAsPages(image), false, {}, {}, {}};
}

std::string Log(std::uint32_t sequence, const std::vector<LogEntryShape>& entries) {
  LogBase base;
  base.sequence = sequence;
  base.bins_size = BinsSize(StaleHive());
  base.copied_from = StaleHive();
  return MakeLog(base, entries);
}

bool HoldsNewKey(const std::string& hive) {
  HiveHandle opened = OpenInHivex(hive);
  if (!opened) return false;
  const hive_node_h software =
      hivex_node_get_child(opened.get(), hivex_root(opened.get()), "Software");
  return software != 0 && hivex_node_get_child(opened.get(), software, "FromLog") != 0;
}

TEST(Marvin32Test, MatchesPublishedVectors) {
  EXPECT_EQ(Marvin32("", 0x004FB61A001BDBCCULL), 0x30ED35C100CD3C7DULL);
  EXPECT_EQ(Marvin32("\xAF", 0x004FB61A001BDBCCULL), 0x48E73FC77D75DDC1ULL);
}

struct SampleCase {
  const char* hive;
  std::vector<const char*> logs;
  std::size_t pages;
  std::size_t entries;
  std::uint32_t sequence;
  std::vector<std::string> used;
};

TEST(TransactionLogTest, RecoversWhatWindowsWrote) {
  const SampleCase cases[] = {
      {"transactions_NTUSER.DAT",
       {"transactions_ntuser.dat.log1", "transactions_ntuser.dat.log2"},
       132,
       23,
       589,
       {"transactions_ntuser.dat.log1"}},
      // Given in the wrong order: the log with the earlier entries goes first.
      {"UsrClass.dat",
       {"UsrClass.dat.LOG2", "UsrClass.dat.LOG1"},
       158,
       14,
       301,
       {"UsrClass.dat.LOG1", "UsrClass.dat.LOG2"}},
  };
  for (const SampleCase& sample : cases) {
    SCOPED_TRACE(sample.hive);
    const std::string stale = Sample(sample.hive);
    std::string hive = stale;
    std::vector<HiveLog> logs;
    for (const char* name : sample.logs) logs.push_back({name, Sample(name)});
    Recovery recovery;
    ASSERT_EQ(RecoverHive(&hive, logs, &recovery), "");
    EXPECT_TRUE(recovery.was_dirty);
    EXPECT_EQ(recovery.pages_applied, sample.pages);
    EXPECT_EQ(recovery.entries_applied, sample.entries);
    EXPECT_EQ(recovery.sequence, sample.sequence);
    EXPECT_EQ(recovery.logs_used, sample.used);
    HiveHeader header;
    ASSERT_EQ(ReadHiveHeader(hive, &header), HiveState::kUsable);
    EXPECT_EQ(header.primary_sequence, sample.sequence);
    HiveHandle recovered = OpenInHivex(hive);
    ASSERT_TRUE(recovered);
    if (std::string(sample.hive) == "transactions_NTUSER.DAT") {
      HiveHandle before = OpenInHivex(stale);
      ASSERT_TRUE(before);
      EXPECT_GE(CountKeys(recovered.get(), hivex_root(recovered.get())),
                CountKeys(before.get(), hivex_root(before.get())) + 500);
    }
  }
}

struct MadeCase {
  const char* name;
  std::vector<HiveLog> logs;
  std::size_t entries;
  std::uint32_t sequence;
  std::vector<std::string> used;
};

TEST(TransactionLogTest, AppliesEntriesInSequenceAcrossBothLogs) {
  const std::string stale = StaleHive();
  const std::string newer = NewerHive();
  LogEntryShape broken = Entry(8, stale);
  broken.break_hash = true;
  const MadeCase cases[] = {
      {"split over LOG2 then LOG1",
       {{"LOG1", Log(9, {Entry(9, newer), Entry(10, newer)})},
        {"LOG2", Log(7, {Entry(7, stale), Entry(8, newer)})}},
       4,
       11,
       {"LOG2", "LOG1"}},
      // The hive already holds what the log rotated away; its base block was
      // never moved on.
      {"after a partial reconcile",
       {{"LOG1", Log(32, {Entry(32, newer)})},
        {"LOG2", Log(30, {Entry(30, stale), Entry(31, stale)})}},
       3,
       33,
       {"LOG2", "LOG1"}},
      // The entry after the bad one is not applied, but the hive moves past it.
      {"a bad hash in the middle",
       {{"LOG1", Log(7, {Entry(7, newer), broken, Entry(9, stale)})}},
       1,
       10,
       {"LOG1"}},
      {"a log older than the hive",
       {{"LOG1", Log(7, {Entry(7, newer)})}, {"LOG2", Log(3, {Entry(3, stale)})}},
       1,
       9,
       {"LOG1"}},
  };
  for (const MadeCase& made : cases) {
    SCOPED_TRACE(made.name);
    std::string hive = stale;
    Recovery recovery;
    ASSERT_EQ(RecoverHive(&hive, made.logs, &recovery), "");
    EXPECT_EQ(recovery.entries_applied, made.entries);
    EXPECT_EQ(recovery.pages_applied, made.entries);
    EXPECT_EQ(recovery.sequence, made.sequence);
    EXPECT_EQ(recovery.logs_used, made.used);
    HiveHeader header;
    ASSERT_EQ(ReadHiveHeader(hive, &header), HiveState::kUsable);
    EXPECT_EQ(header.bins_size, BinsSize(newer));
    EXPECT_EQ(hive.size(), newer.size());
    EXPECT_TRUE(HoldsNewKey(hive));
  }
}

TEST(TransactionLogTest, RefusesWhatItCannotTrustAndLeavesTheHiveAsItWas) {
  const std::string stale = StaleHive();
  const std::string newer = NewerHive();
  auto with = [&](LogEntryShape entry, auto change) {
    change(entry);
    return std::vector<HiveLog>{{"LOG1", Log(7, {entry})}};
  };
  std::string damaged_base = Log(7, {Entry(7, newer)});
  damaged_base[100] ^= 1;
  const std::pair<const char*, std::vector<HiveLog>> cases[] = {
      {"no logs", {}},
      {"a damaged log base block", {{"LOG1", damaged_base}}},
      {"a log older than the hive", {{"LOG1", Log(6, {Entry(6, newer)})}}},
      {"a first entry out of sequence", {{"LOG1", Log(7, {Entry(9, newer)})}}},
      {"a first entry with a bad hash",
       with(Entry(7, newer), [](LogEntryShape& e) { e.break_hash = true; })},
      {"a page outside the bins size",
       with(Entry(7, newer), [](LogEntryShape& e) { e.pages[0].offset = e.bins_size; })},
      {"a bins size not in whole pages",
       with(Entry(7, newer), [](LogEntryShape& e) { e.bins_size += 512; })},
      {"a page not in whole pages",
       with(Entry(7, newer), [](LogEntryShape& e) { e.pages[0].bytes.resize(4096 + 512); })},
      {"growth with no pages", with(Entry(7, newer), [](LogEntryShape& e) { e.pages.clear(); })},
      {"an entry size past the log",
       with(Entry(7, newer), [](LogEntryShape& e) { e.size_field = 1u << 30; })},
      {"a page size past the entry",
       with(Entry(7, newer), [](LogEntryShape& e) { e.first_page_size_field = 0x7FFFF000; })},
      {"a page count past the entry",
       with(Entry(7, newer), [](LogEntryShape& e) { e.page_count_field = 0x20000000; })},
      {"a page of no bytes",
       with(Entry(7, newer), [](LogEntryShape& e) { e.first_page_size_field = 0; })},
      {"numbers at their end",
       {{"LOG1", Log(7, {Entry(7, newer)})}, {"LOG2", Log(0xFFFFFFFF, {})}}},
      // 33 KB that claim a hive of 4 GB.
      {"gigabytes from a small log",
       with(Entry(7, newer),
            [](LogEntryShape& e) {
              e.bins_size = 0xFFFFF000;
              e.pages = {LogPage{0xFFFE8000, std::string(32768, 'x')}};
            })},
  };
  for (const auto& [name, logs] : cases) {
    SCOPED_TRACE(name);
    std::string hive = stale;
    Recovery recovery;
    EXPECT_NE(RecoverHive(&hive, logs, &recovery), "");
    EXPECT_EQ(hive, stale);
    EXPECT_TRUE(recovery.logs_used.empty());
  }
}

TEST(TransactionLogTest, LeavesACleanHiveAlone) {
  const std::string clean = MakeHive(HiveKey{"ROOT", {}, {}, {}});
  std::string hive = clean;
  Recovery recovery;
  EXPECT_EQ(RecoverHive(&hive, {{"LOG1", Log(7, {Entry(7, NewerHive())})}}, &recovery), "");
  EXPECT_FALSE(recovery.was_dirty);
  EXPECT_EQ(hive, clean);
}

TEST(TransactionLogTest, TakesADamagedBaseBlockFromTheLog) {
  std::string hive = StaleHive();
  hive[100] ^= 1;
  Recovery recovery;
  ASSERT_EQ(RecoverHive(&hive, {{"LOG1", Log(7, {Entry(7, NewerHive())})}}, &recovery), "");
  HiveHeader header;
  EXPECT_EQ(ReadHiveHeader(hive, &header), HiveState::kUsable);
  EXPECT_EQ(header.primary_sequence, 8u);
  EXPECT_TRUE(HoldsNewKey(hive));
}

TEST(TransactionLogTest, AppliesAnOldFormatLogOfTheHivesLastWrite) {
  const std::string stale = StaleHive();
  const std::string newer = NewerHive();
  std::vector<std::size_t> dirty;
  for (std::size_t page = 0; page < BinsSize(newer) / 512; ++page) {
    const std::size_t at = kHiveBaseBlock + page * 512;
    if (at >= stale.size() || stale.compare(at, 512, newer, at, 512) != 0) {
      dirty.push_back(page);
    }
  }
  LogBase base;
  base.file_type = 1;
  base.bins_size = BinsSize(newer);
  base.copied_from = stale;
  std::string hive = stale;
  Recovery recovery;
  ASSERT_EQ(
      RecoverHive(&hive, {{"LOG", MakeDirtyVectorLog(base, newer.substr(kHiveBaseBlock), dirty)}},
                  &recovery),
      "");
  EXPECT_EQ(recovery.pages_applied, dirty.size());
  EXPECT_EQ(recovery.sequence, 9u);
  EXPECT_TRUE(HoldsNewKey(hive));

  base.timestamp += 1;  // written for another state of the hive
  hive = stale;
  EXPECT_NE(
      RecoverHive(&hive, {{"LOG", MakeDirtyVectorLog(base, newer.substr(kHiveBaseBlock), dirty)}},
                  &recovery),
      "");
  EXPECT_EQ(hive, stale);
}

}  // namespace
}  // namespace vendrel::platform
