#include "platform/posix/registry/hive/hive_in_place.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>

#include "platform/posix/files/unique_fd.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/hive_pages.h"
#include "platform/posix/registry/hive/hive_walk.h"
#include "platform/registry.h"
#include "support/hive_maker.h"
#include "support/scratch_folder.h"

namespace vendrel::platform {
namespace {

using namespace std::string_literals;
using testing::HiveKey;
using testing::MakeHive;
using testing::Utf16Text;

constexpr std::size_t kValueData = 12;  // where a value cell keeps its data cell
constexpr std::size_t kKeyName = 80;    // where a key cell keeps its name

std::uint32_t WordAt(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int b = 3; b >= 0; --b) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(b)]);
  }
  return value;
}

std::string Word(std::uint32_t value) {
  std::string word(4, '\0');
  for (std::size_t b = 0; b < 4; ++b) word[b] = static_cast<char>((value >> (8 * b)) & 0xFF);
  return word;
}

// A hive whose product key holds Drive and cddir, each with a data cell, as
// the caller would describe it: the key's cell, its values' cells, the bins.
class InPlaceChangeTest : public ::testing::Test {
 public:
  InPlaceChangeTest() {
    root_.Child("Tarvel Global").values = {{"Drive", kRegSz, Utf16Text("C:")},
                                           {"cddir", kRegSz, Utf16Text("C:\\cd")}};
    root_.Child("Microsoft").values = {{"Other", kRegSz, Utf16Text("other")}};
    hive_ = MakeHive(root_);
  }

  std::size_t ValueCell(const std::string& name) const { return hive_.find(name) - 24; }
  std::size_t DataCell(const std::string& name) const {
    return WordAt(hive_, ValueCell(name) + kValueData) + kHiveBaseBlock;
  }
  std::size_t KeyCell() const { return hive_.find("Tarvel Global") - kKeyName; }
  std::vector<InPlaceChange::Held> Held() const {
    return {{Name("Drive"), ValueCell("Drive"), DataCell("Drive")},
            {Name("cddir"), ValueCell("cddir"), DataCell("cddir")}};
  }
  // A name as a hive stores it (UTF-16LE).
  static std::string Name(const std::string& latin1) {
    const std::string text = Utf16Text(latin1);
    return text.substr(0, text.size() - 2);
  }

  // The change made to the hive as it now stands in its file.
  int Pages(const InPlaceChange& change, ChangedPages* changed, std::string* refusal = nullptr) {
    testing::WriteFile(path_, hive_);
    UniqueFd fd(open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    HivePages pages(fd.get(), hive_.size());
    HiveWalk walk(pages, 5, kHiveBaseBlock + WordAt(hive_, 40));
    std::string ignored;
    return change.Pages(walk, 5, changed, refusal != nullptr ? refusal : &ignored);
  }

  HiveKey root_{"ROOT", {}, {}, {}};
  std::string hive_;
  testing::ScratchFolder dir_;
  std::string path_ = dir_ / "SOFTWARE";
};

// Data that fits its cell is written there: the header's page and the
// page of that cell, and nothing else.
TEST_F(InPlaceChangeTest, DataThatFitsTouchesOnlyItsPageAndTheHeader) {
  InPlaceChange change;
  change.AddKey(KeyCell(), Held());
  change.Set(KeyCell(), Name("Drive"), kRegSz, Utf16Text("F:"));
  ChangedPages changed;
  ASSERT_EQ(Pages(change, &changed), 0);
  EXPECT_EQ(changed.length, hive_.size());
  std::string_view records = changed.records;
  std::vector<std::uint64_t> pages;
  std::uint64_t at = 0;
  std::string_view bytes;
  std::string after = hive_;
  while (TakePageRecord(&records, &at, &bytes)) {
    pages.push_back(at);
    after.replace(at, bytes.size(), bytes);
  }
  EXPECT_EQ(pages, (std::vector<std::uint64_t>{0, DataCell("Drive") / 4096 * 4096}));
  EXPECT_EQ(after.substr(DataCell("Drive") + 4, 6), Utf16Text("F:"));
  HiveHeader header;
  EXPECT_EQ(ReadHiveHeader(after, &header), HiveState::kUsable);
  EXPECT_EQ(header.primary_sequence, WordAt(hive_, 4) + 1);
}

// What the hive does not hold as the caller describes it, or what the
// writer does not write, is refused as a whole, saying why: nothing is given.
TEST_F(InPlaceChangeTest, WhatCannotBeTrustedIsRefused) {
  struct Row {
    const char* what;
    std::function<void(InPlaceChangeTest&, std::vector<InPlaceChange::Held>&,
                       InPlaceChange::NewValue&)>
        change;
  };
  const Row rows[] = {
      {"a value the key's list does not name",
       [](auto& t, auto& held, auto&) {
         held[1] = {Name("cddir"), t.ValueCell("Other"), t.DataCell("Other")};
       }},
      {"one value fewer than the key holds", [](auto&, auto& held, auto&) { held.pop_back(); }},
      {"data in another cell than the value names",
       [](auto& t, auto& held, auto&) { held[0].data_cell = t.DataCell("cddir"); }},
      {"a data cell that is another value's cell",
       [](auto& t, auto& held, auto&) {
         t.hive_.replace(t.ValueCell("Drive") + kValueData, 4,
                         Word(static_cast<std::uint32_t>(t.ValueCell("cddir") - kHiveBaseBlock)));
         held[0].data_cell = t.ValueCell("cddir");
       }},
      {"a key cell that runs past its bin",
       [](auto& t, auto&, auto&) { t.hive_.replace(t.KeyCell(), 4, Word(0xFFFF0000)); }},
      {"data long enough for big-data cells",
       [](auto&, auto&, auto& set) { set.data = std::string(16345, 'x'); }},
  };
  const std::string made = hive_;
  for (const Row& row : rows) {
    hive_ = made;
    std::vector<InPlaceChange::Held> held = Held();
    InPlaceChange::NewValue set{Name("Drive"), kRegSz, Utf16Text("F:")};
    row.change(*this, held, set);
    InPlaceChange change;
    change.AddKey(KeyCell(), held);
    change.Set(KeyCell(), set.name, set.type, set.data);
    ChangedPages changed;
    std::string refusal;
    EXPECT_EQ(Pages(change, &changed, &refusal), EINVAL) << row.what;
    EXPECT_FALSE(refusal.empty()) << row.what;
    EXPECT_TRUE(changed.records.empty()) << row.what;
  }
}

}  // namespace
}  // namespace vendrel::platform
