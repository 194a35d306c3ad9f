#include "platform/posix/registry/hive/hive_in_place.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string_view>
#include <utility>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_header.h"

namespace vendrel::platform {
namespace {

constexpr std::uint64_t kPage = kComparedPage;
constexpr std::size_t kInlineData = 4;
constexpr std::size_t kLongestValueName = 16383;  // characters, as Windows allows
// Fields of the base block.
constexpr std::uint64_t kPrimarySequence = 4;
constexpr std::uint64_t kSecondarySequence = 8;
constexpr std::uint64_t kBinsSize = 40;

std::uint32_t Stored(std::uint64_t in_file) {
  return static_cast<std::uint32_t>(in_file - kHiveBaseBlock);
}
std::uint64_t CellSize(std::uint64_t bytes) { return (bytes + 7) / 8 * 8; }
// A used cell gives its size as a negative number.
std::uint32_t UsedSize(std::uint64_t size) { return static_cast<std::uint32_t>(-size); }

std::string Word(std::uint32_t value) {
  std::string word;
  PutField(&word, value, 4);
  return word;
}

// The hive's pages as the change leaves them, each read when first touched;
// pages past the hive's end start as zeros.
class PageImage {
 public:
  explicit PageImage(const HivePages& hive) : hive_(hive) {}

  int Read(std::uint64_t at, std::size_t size, std::string* out) {
    out->clear();
    while (out->size() < size) {
      const std::uint64_t where = at + out->size();
      std::string* page = nullptr;
      if (int error = Page(where / kPage * kPage, &page); error != 0) return error;
      const std::size_t from = where % kPage;
      out->append(*page, from, std::min<std::size_t>(kPage - from, size - out->size()));
    }
    return 0;
  }
  int Get(std::uint64_t at, std::uint32_t* value) {
    std::string bytes;
    if (int error = Read(at, 4, &bytes); error != 0) return error;
    *value = static_cast<std::uint32_t>(Field(bytes, 0, 4));
    return 0;
  }
  int Write(std::uint64_t at, std::string_view bytes) {
    while (!bytes.empty()) {
      std::string* page = nullptr;
      if (int error = Page(at / kPage * kPage, &page); error != 0) return error;
      const std::size_t from = at % kPage;
      const std::size_t size = std::min<std::size_t>(kPage - from, bytes.size());
      page->replace(from, size, bytes.substr(0, size));
      written_.insert(at / kPage * kPage);
      bytes.remove_prefix(size);
      at += size;
    }
    return 0;
  }
  int Put(std::uint64_t at, std::uint32_t value) { return Write(at, Word(value)); }
  // Counts the page at at as written, as it stands.
  int Touch(std::uint64_t at) {
    std::string* page = nullptr;
    if (int error = Page(at, &page); error != 0) return error;
    written_.insert(at);
    return 0;
  }
  std::string* HeaderPage() { return &pages_.at(0); }

  void Records(ChangedPages* changed) const {
    for (std::uint64_t at : written_) AddChangedPage(changed, at, pages_.at(at));
  }

 private:
  int Page(std::uint64_t at, std::string** page) {
    auto found = pages_.find(at);
    if (found == pages_.end()) {
      std::string bytes(kPage, '\0');
      if (at < hive_.size()) {
        std::string read;
        if (!hive_.Read(at, std::min<std::uint64_t>(kPage, hive_.size() - at), &read)) {
          return errno;
        }
        bytes.replace(0, read.size(), read);
      }
      found = pages_.emplace(at, std::move(bytes)).first;
    }
    *page = &found->second;
    return 0;
  }

  const HivePages& hive_;
  std::map<std::uint64_t, std::string> pages_;
  std::set<std::uint64_t> written_;
};

// A value's data as the file holds it: its cell (0 for data held in the
// value itself) and its length.
struct OldData {
  std::uint64_t cell = 0;
  std::uint64_t length = 0;
};

// Writes one change into a PageImage: every call returns 0, EINVAL with
// refusal_ saying why when the hive cannot take the change, or an errno
// value.
class Writer {
 public:
  Writer(PageImage* image, const HiveWalk& walk, std::uint32_t minor_version)
      : image_(*image), walk_(walk), minor_version_(minor_version), new_bin_(walk.bins_end()) {}

  int Key(std::uint64_t key_cell, const std::vector<InPlaceChange::Held>& held,
          const std::vector<InPlaceChange::NewValue>& sets);
  // Puts the new bin, if any, behind the others; gives the length it adds.
  int CloseNewBin(std::uint64_t* added);
  const std::string& refusal() const { return refusal_; }

 private:
  int Refuse(std::string why) {
    refusal_ = std::move(why);
    return EINVAL;
  }
  // The size of the used cell at offset, which must lie in one bin, where
  // its cells put one (not inside another), begin with signature (when
  // given) and hold at least least bytes.
  int UsedCell(std::uint64_t offset, std::uint64_t least, const char* signature,
               std::uint64_t* size) {
    if (std::string wrong = walk_.UsedCell(offset, least, signature, size); !wrong.empty()) {
      return Refuse(std::move(wrong));
    }
    if (std::string wrong = walk_.OnChain(offset); !wrong.empty()) return Refuse(std::move(wrong));
    cells_.emplace_back(offset, offset + *size);
    return 0;
  }
  int Free(std::uint64_t cell) {
    std::uint32_t stored = 0;
    if (int error = image_.Get(cell, &stored); error != 0) return error;
    return image_.Put(cell, UsedSize(stored));
  }
  std::uint64_t Allocate(std::uint64_t bytes) {
    const std::uint64_t at = new_bin_ + kBinHeader + used_;
    used_ += CellSize(bytes);
    return at;
  }
  int ReadValue(const InPlaceChange::Held& value, bool set, OldData* old);
  // A new value's cell, holding its name (UTF-16LE), with no data yet. A
  // name of characters up to U+00FF is stored a byte each, as Windows
  // stores it.
  int NewValueCell(const std::string& name, std::uint64_t* value) {
    if (name.size() % 2 != 0 || name.size() > 2 * kLongestValueName) {
      return Refuse("a value name of " + std::to_string(name.size() / 2) +
                    " characters is longer than Windows allows");
    }
    std::string stored;
    for (std::size_t at = 0; at < name.size(); at += 2) {
      stored += name[at];
      if (name[at + 1] != '\0') {
        stored = name;
        break;
      }
    }
    const bool compressed = stored.size() != name.size() || name.empty();
    *value = Allocate(kValueFixed + stored.size());
    std::string fixed = Word(UsedSize(CellSize(kValueFixed + stored.size()))) + "vk";
    PutField(&fixed, stored.size(), 2);
    fixed.resize(kValueFixed, '\0');
    if (int error = image_.Write(*value, fixed + stored); error != 0) return error;
    return compressed && !name.empty() ? image_.Put(*value + kValueFlags, kValueNameCompressed) : 0;
  }
  // Gives the value in the cell at value the data, where its old data is
  // when it fits there, else in a new cell.
  int PutData(std::uint64_t value, const OldData& old, const std::string& data);

  PageImage& image_;
  const HiveWalk& walk_;
  const std::uint32_t minor_version_;
  const std::uint64_t new_bin_;
  std::uint64_t used_ = 0;  // of the new bin, behind its header
  // The old cells read, of every key so far: where each begins and ends.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> cells_;
  std::string refusal_;
};

int Writer::PutData(std::uint64_t value, const OldData& old, const std::string& data) {
  const std::uint64_t old_cell = old.cell;
  const auto length = static_cast<std::uint32_t>(data.size());
  std::uint64_t old_size = 0;
  if (old_cell != 0) {
    std::uint32_t stored = 0;
    if (int error = image_.Get(old_cell, &stored); error != 0) return error;
    old_size = UsedSize(stored);
  }
  int error = 0;
  if (data.size() <= kInlineData) {
    std::string held = data;
    held.resize(kInlineData, '\0');
    error = image_.Put(value + kValueDataLength, length | kDataInline);
    if (error == 0) error = image_.Write(value + kValueData, held);
    if (error == 0 && old_cell != 0) error = Free(old_cell);
    return error;
  }
  if (old_cell != 0 && old_size - 4 >= data.size()) {
    // Only the new data's bytes are written, as Windows writes them: what
    // lies behind them in the cell is the cell's, and stays as it was.
    error = image_.Write(old_cell + 4, data);
    if (error == 0) error = image_.Put(value + kValueDataLength, length);
    return error;
  }
  const std::uint64_t cell = Allocate(4 + data.size());
  error = image_.Put(cell, UsedSize(CellSize(4 + data.size())));
  if (error == 0) error = image_.Write(cell + 4, data);
  if (error == 0) error = image_.Put(value + kValueDataLength, length);
  if (error == 0) error = image_.Put(value + kValueData, Stored(cell));
  if (error == 0 && old_cell != 0) error = Free(old_cell);
  return error;
}

// Checks the cells of a value the key holds, and gives its old data.
int Writer::ReadValue(const InPlaceChange::Held& value, bool set, OldData* old) {
  std::uint64_t size = 0;
  std::uint32_t length = 0;
  std::uint32_t data = 0;
  if (int error = UsedCell(value.cell, kValueFixed, "vk", &size); error != 0) return error;
  // The signature's word holds the name's length in its upper half.
  std::uint32_t signature = 0;
  if (int error = image_.Get(value.cell + 4, &signature); error != 0) return error;
  const std::uint32_t name_bytes = signature >> 16;
  if (size < kValueFixed + name_bytes) return Refuse("a value's name runs past its cell");
  if (int error = image_.Get(value.cell + kValueDataLength, &length); error != 0) return error;
  if (int error = image_.Get(value.cell + kValueData, &data); error != 0) return error;
  const std::uint64_t old_length = length & ~kDataInline;
  if ((length & kDataInline) != 0 || old_length == 0) {
    if (value.data_cell != 0 || old_length > kInlineData) return Refuse("a value changed under it");
    *old = {0, old_length};
    return 0;
  }
  if (IsBigData(minor_version_, old_length)) {
    if (!set) return 0;  // its cells are its own, and stay as they are
    return Refuse("a value it changes holds more than " + std::to_string(kLargestPlainData) +
                  " bytes (big data), which this program does not rewrite");
  }
  if (value.data_cell == 0 || value.data_cell != InFile(data)) {
    return Refuse("a value changed under it");
  }
  if (int error = UsedCell(value.data_cell, 4 + old_length, nullptr, &size); error != 0) {
    return error;
  }
  *old = {value.data_cell, old_length};
  return 0;
}

int Writer::Key(std::uint64_t key_cell, const std::vector<InPlaceChange::Held>& held,
                const std::vector<InPlaceChange::NewValue>& sets) {
  std::uint64_t size = 0;
  if (int error = UsedCell(key_cell, kKeyFixed, "nk", &size); error != 0) return error;
  std::uint32_t count = 0;
  std::uint32_t list = 0;
  std::uint32_t longest_name = 0;
  std::uint32_t longest_data = 0;
  for (auto [field, value] : {std::pair{kKeyValueCount, &count}, std::pair{kKeyValueList, &list},
                              std::pair{kKeyLongestValueName, &longest_name},
                              std::pair{kKeyLongestValueData, &longest_data}}) {
    if (int error = image_.Get(key_cell + field, value); error != 0) return error;
  }
  if (count != held.size()) return Refuse("its values changed under it");
  std::vector<std::uint32_t> entries;
  if (count != 0) {
    if (int error = UsedCell(InFile(list), 4 + std::uint64_t{4} * count, nullptr, &size);
        error != 0) {
      return error;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t entry = 0;
      if (int error = image_.Get(InFile(list) + 4 + std::uint64_t{4} * i, &entry); error != 0)
        return error;
      if (InFile(entry) != held[i].cell) return Refuse("its values changed under it");
      entries.push_back(entry);
    }
  }
  // Every value's cells are checked, so that none is written over; big data
  // is refused only in a value that is set.
  std::vector<OldData> old_data(held.size());
  for (std::size_t i = 0; i < held.size(); ++i) {
    const bool set = std::any_of(sets.begin(), sets.end(), [&](const InPlaceChange::NewValue& v) {
      return v.name == held[i].name;
    });
    if (int error = ReadValue(held[i], set, &old_data[i]); error != 0) return error;
  }
  // No cell this change reads or writes, of this key or one before, may be
  // part of another.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> cells = cells_;
  std::sort(cells.begin(), cells.end());
  for (std::size_t i = 1; i < cells.size(); ++i) {
    if (cells[i].first < cells[i - 1].second) return Refuse("two of its cells overlap");
  }

  bool added = false;
  for (const InPlaceChange::NewValue& set : sets) {
    if (IsBigData(minor_version_, set.data.size())) {
      return Refuse("data of " + std::to_string(set.data.size()) +
                    " bytes would need big data, which this program does not write");
    }
    auto same = std::find_if(held.begin(), held.end(),
                             [&](const InPlaceChange::Held& h) { return h.name == set.name; });
    std::uint64_t value = 0;
    if (same != held.end()) {
      value = same->cell;
      const OldData& old = old_data[static_cast<std::size_t>(same - held.begin())];
      if (int error = PutData(value, old, set.data); error != 0) return error;
    } else {
      if (int error = NewValueCell(set.name, &value); error != 0) return error;
      if (int error = PutData(value, OldData{}, set.data); error != 0) return error;
      entries.push_back(Stored(value));
      added = true;
    }
    if (int error = image_.Put(value + kValueType, set.type); error != 0) return error;
    longest_name = std::max(longest_name, static_cast<std::uint32_t>(set.name.size()));
    longest_data = std::max(longest_data, static_cast<std::uint32_t>(set.data.size()));
  }
  if (added) {
    const std::uint64_t new_list = Allocate(4 + 4 * entries.size());
    std::string bytes = Word(UsedSize(CellSize(4 + 4 * entries.size())));
    for (std::uint32_t entry : entries) bytes += Word(entry);
    if (int error = image_.Write(new_list, bytes); error != 0) return error;
    if (count != 0) {
      if (int error = Free(InFile(list)); error != 0) return error;
    }
    if (int error =
            image_.Put(key_cell + kKeyValueCount, static_cast<std::uint32_t>(entries.size()));
        error != 0) {
      return error;
    }
    if (int error = image_.Put(key_cell + kKeyValueList, Stored(new_list)); error != 0)
      return error;
  }
  if (int error = image_.Put(key_cell + kKeyLongestValueName, longest_name); error != 0) {
    return error;
  }
  return image_.Put(key_cell + kKeyLongestValueData, longest_data);
}

int Writer::CloseNewBin(std::uint64_t* added) {
  *added = 0;
  if (used_ == 0) return 0;
  const std::uint64_t size = (kBinHeader + used_ + kPage - 1) / kPage * kPage;
  std::string header = "hbin" + Word(Stored(new_bin_)) + Word(static_cast<std::uint32_t>(size));
  header.resize(kBinHeader, '\0');
  if (int error = image_.Write(new_bin_, header); error != 0) return error;
  // The rest of the bin is one free cell.
  const std::uint64_t rest = size - kBinHeader - used_;
  if (rest != 0) {
    if (int error = image_.Put(new_bin_ + kBinHeader + used_, static_cast<std::uint32_t>(rest));
        error != 0) {
      return error;
    }
  }
  // Each of its pages is written, so that the file grows by all of them.
  for (std::uint64_t page = new_bin_; page < new_bin_ + size; page += kPage) {
    if (int error = image_.Touch(page); error != 0) return error;
  }
  *added = size;
  return 0;
}

}  // namespace

void InPlaceChange::AddKey(std::uint64_t key_cell, std::vector<Held> values) {
  keys_[key_cell].held = std::move(values);
}

void InPlaceChange::Set(std::uint64_t key_cell, const std::string& name, std::uint32_t type,
                        std::string data) {
  std::vector<NewValue>& sets = keys_[key_cell].sets;
  auto same =
      std::find_if(sets.begin(), sets.end(), [&](const NewValue& set) { return set.name == name; });
  if (same == sets.end()) same = sets.insert(sets.end(), NewValue{name, 0, {}});
  same->type = type;
  same->data = std::move(data);
}

bool InPlaceChange::empty() const {
  return std::all_of(keys_.begin(), keys_.end(),
                     [](const auto& key) { return key.second.sets.empty(); });
}

std::vector<InPlaceChange::NewValue> InPlaceChange::SetsOf(std::uint64_t key_cell) const {
  auto key = keys_.find(key_cell);
  return key == keys_.end() ? std::vector<NewValue>{} : key->second.sets;
}

int InPlaceChange::Pages(const HiveWalk& walk, std::uint32_t minor_version, ChangedPages* changed,
                         std::string* refusal) const {
  const HivePages& hive = walk.pages();
  // New cells go to a new bin where the bins end: the last must end there.
  std::uint64_t last_start = 0;
  std::uint64_t last_end = 0;
  if (std::string wrong = walk.BinOf(walk.bins_end() - 1, &last_start, &last_end);
      !wrong.empty() || last_end != walk.bins_end()) {
    *refusal = wrong.empty() ? "its hive bins do not end where its header says" : wrong;
    return EINVAL;
  }
  PageImage image(hive);
  std::uint32_t bins_size = 0;
  std::uint32_t sequence = 0;
  if (int error = image.Get(kBinsSize, &bins_size); error != 0) return error;
  if (int error = image.Get(kPrimarySequence, &sequence); error != 0) return error;
  Writer writer(&image, walk, minor_version);
  for (const auto& [key_cell, key] : keys_) {
    if (int error = writer.Key(key_cell, key.held, key.sets); error != 0) {
      *refusal = writer.refusal();
      return error;
    }
  }
  std::uint64_t added = 0;
  if (int error = writer.CloseNewBin(&added); error != 0) return error;
  // Both sequence numbers one further, as a commit leaves them.
  for (std::uint64_t field : {kPrimarySequence, kSecondarySequence}) {
    if (int error = image.Put(field, sequence + 1); error != 0) return error;
  }
  if (int error = image.Put(kBinsSize, static_cast<std::uint32_t>(bins_size + added)); error != 0) {
    return error;
  }
  std::string* header = image.HeaderPage();
  MendHiveChecksum(header->data(), header->size());
  *changed = ChangedPages{};
  image.Records(changed);
  changed->length = std::max(hive.size(), walk.bins_end() + added);
  return 0;
}

}  // namespace vendrel::platform
