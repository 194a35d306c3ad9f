#include "platform/posix/registry/hive/hive_in_place.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string_view>
#include <utility>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_header.h"

namespace vendrel::platform {
namespace {

constexpr std::uint64_t kPage = kComparedPage;
// Where the fields are, from the start of a cell (its size comes first).
constexpr std::uint64_t kKeyValueCount = 40;
constexpr std::uint64_t kKeyValueList = 44;
constexpr std::uint64_t kKeyLongestValueName = 64;
constexpr std::uint64_t kKeyLongestValueData = 68;
constexpr std::uint64_t kKeyFixed = 80;
constexpr std::uint64_t kValueDataLength = 8;
constexpr std::uint64_t kValueData = 12;
constexpr std::uint64_t kValueType = 16;
constexpr std::uint64_t kValueFlags = 20;
constexpr std::uint64_t kValueFixed = 24;
constexpr std::uint32_t kNameIsAscii = 1;
constexpr std::size_t kInlineData = 4;
// Longer data goes to big data cells in hives of version 1.4 and later.
constexpr std::size_t kLargestPlainData = 16344;
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

// The file's pages as the change leaves them, each read when first touched;
// pages past the file's end start as zeros.
class PageImage {
 public:
  PageImage(int fd, std::uint64_t length) : fd_(fd), length_(length) {}

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
    *value = 0;
    for (int byte = 3; byte >= 0; --byte) {
      *value = (*value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(byte)]);
    }
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
      if (at < length_) {
        if (at + kPage > length_) return ENOTSUP;  // the bins end on a page
        ssize_t got = pread(fd_, bytes.data(), kPage, static_cast<off_t>(at));
        if (got < 0) return errno;
        if (static_cast<std::uint64_t>(got) != kPage) return ENOTSUP;  // cut short meanwhile
      }
      found = pages_.emplace(at, std::move(bytes)).first;
    }
    *page = &found->second;
    return 0;
  }

  const int fd_;
  const std::uint64_t length_;
  std::map<std::uint64_t, std::string> pages_;
  std::set<std::uint64_t> written_;
};

// A value's data as the file holds it: its cell (0 for data held in the
// value itself) and its length.
struct OldData {
  std::uint64_t cell = 0;
  std::uint64_t length = 0;
};

// Writes one change into a PageImage: every call returns 0, ENOTSUP when
// the file cannot take the change in place, or an errno value.
class Writer {
 public:
  Writer(PageImage* image, const HiveBins& bins, std::uint32_t minor_version)
      : image_(*image), bins_(bins), minor_version_(minor_version), new_bin_(bins.end) {}

  int Key(std::uint64_t key_cell, const std::vector<InPlaceChange::Held>& held,
          const std::vector<InPlaceChange::NewValue>& sets);
  // Puts the new bin, if any, behind the others; gives the length it adds.
  int CloseNewBin(std::uint64_t* added);

 private:
  // The size of the used cell at offset, which must lie in one bin, begin
  // with signature (when given) and hold at least least bytes.
  int UsedCell(std::uint64_t offset, std::uint64_t least, const char* signature,
               std::uint64_t* size) {
    std::uint32_t stored = 0;
    if (int error = image_.Get(offset, &stored); error != 0) return error;
    if ((stored & 0x80000000) == 0) return ENOTSUP;
    *size = std::uint64_t{UsedSize(stored)};
    if (*size < least || !bins_.HoldCell(offset, *size)) return ENOTSUP;
    if (signature != nullptr) {
      std::string bytes;
      if (int error = image_.Read(offset + 4, 2, &bytes); error != 0) return error;
      if (bytes != signature) return ENOTSUP;
    }
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
  int ReadValue(const InPlaceChange::Held& value, OldData* old);
  // A new value's cell, holding its name, with no data yet.
  int NewValueCell(const std::string& name, std::uint64_t* value) {
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii || name.size() > 255) return ENOTSUP;
    *value = Allocate(kValueFixed + name.size());
    std::string fixed = Word(UsedSize(CellSize(kValueFixed + name.size()))) + "vk";
    fixed += static_cast<char>(name.size());
    fixed.resize(kValueFixed, '\0');
    if (int error = image_.Write(*value, fixed + name); error != 0) return error;
    return name.empty() ? 0 : image_.Put(*value + kValueFlags, kNameIsAscii);
  }
  // Gives the value in the cell at value the data, where its old data is
  // when it fits there, else in a new cell.
  int PutData(std::uint64_t value, const OldData& old, const std::string& data);

  PageImage& image_;
  const HiveBins& bins_;
  const std::uint32_t minor_version_;
  const std::uint64_t new_bin_;
  std::uint64_t used_ = 0;  // of the new bin, behind its header
  // The old cells read, of every key so far: where each begins and ends.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> cells_;
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
    // The old data's bytes beyond the new are cleared, not left behind.
    std::string held = data;
    held.resize(std::max<std::uint64_t>(data.size(), std::min(old.length, old_size - 4)), '\0');
    error = image_.Write(old_cell + 4, held);
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
int Writer::ReadValue(const InPlaceChange::Held& value, OldData* old) {
  std::uint64_t size = 0;
  std::uint32_t length = 0;
  std::uint32_t data = 0;
  if (int error = UsedCell(value.cell, kValueFixed, "vk", &size); error != 0) return error;
  // The signature's word holds the name's length in its upper half.
  std::uint32_t signature = 0;
  if (int error = image_.Get(value.cell + 4, &signature); error != 0) return error;
  const std::uint32_t name_bytes = signature >> 16;
  if (size < kValueFixed + name_bytes) return ENOTSUP;
  if (int error = image_.Get(value.cell + kValueDataLength, &length); error != 0) return error;
  if (int error = image_.Get(value.cell + kValueData, &data); error != 0) return error;
  const std::uint64_t old_length = length & ~kDataInline;
  if (value.data_cell == InPlaceChange::kUnknownData) return ENOTSUP;
  if ((length & kDataInline) != 0) {
    if (value.data_cell != 0 || old_length > kInlineData) return ENOTSUP;
    *old = {0, old_length};
    return 0;
  }
  if (value.data_cell == 0 || value.data_cell != InFile(data)) return ENOTSUP;
  if (minor_version_ >= 4 && old_length > kLargestPlainData) return ENOTSUP;  // big data
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
  if (count != held.size()) return ENOTSUP;
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
      if (InFile(entry) != held[i].cell) return ENOTSUP;  // not the values the library read
      entries.push_back(entry);
    }
  }
  std::vector<OldData> old_data;
  for (const InPlaceChange::Held& value : held) {
    old_data.emplace_back();
    if (int error = ReadValue(value, &old_data.back()); error != 0) return error;
  }
  // No cell this change reads or writes, of this key or one before, may be
  // part of another.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> cells = cells_;
  std::sort(cells.begin(), cells.end());
  for (std::size_t i = 1; i < cells.size(); ++i) {
    if (cells[i].first < cells[i - 1].second) return ENOTSUP;
  }

  bool added = false;
  for (const InPlaceChange::NewValue& set : sets) {
    if (set.data.size() > kLargestPlainData) return ENOTSUP;
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
    longest_name = std::max(longest_name, static_cast<std::uint32_t>(2 * set.name.size()));
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

int InPlaceChange::Pages(int fd, std::uint64_t length, const HiveBins& bins,
                         std::uint32_t minor_version, ChangedPages* changed) const {
  // New cells go to a new bin where the file ends: the bins must end there.
  if (bins.end != length || length % kPage != 0) return ENOTSUP;
  PageImage image(fd, length);
  std::uint32_t bins_size = 0;
  std::uint32_t sequence = 0;
  if (int error = image.Get(kBinsSize, &bins_size); error != 0) return error;
  if (int error = image.Get(kPrimarySequence, &sequence); error != 0) return error;
  if (InFile(bins_size) != bins.end) return ENOTSUP;
  Writer writer(&image, bins, minor_version);
  for (const auto& [key_cell, key] : keys_) {
    if (int error = writer.Key(key_cell, key.held, key.sets); error != 0) return error;
  }
  std::uint64_t added = 0;
  if (int error = writer.CloseNewBin(&added); error != 0) return error;
  // As the hive library commits: both sequence numbers one further.
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
  changed->length = length + added;
  return 0;
}

}  // namespace vendrel::platform
