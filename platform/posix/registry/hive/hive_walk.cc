#include "platform/posix/registry/hive/hive_walk.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_cells.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/value_names.h"

namespace vendrel::platform {
namespace {

constexpr std::uint64_t kListHead = 8;  // size, signature, count
// A bin larger than this, or a key with more subkeys, is no hive's.
constexpr std::uint64_t kLargestBin = std::uint64_t{64} << 20;
constexpr std::uint64_t kMostSubkeys = std::uint64_t{1} << 20;
constexpr std::uint64_t kBinScanStretch = std::uint64_t{64} << 10;
// What one walk reads at most, in list entries and in data: far more than
// any lookup of a hive needs, and a bound on the work a hive whose lists
// lead back into each other can ask for.
constexpr std::uint64_t kMostEntriesRead = std::uint64_t{1} << 24;
constexpr std::uint64_t kMostDataRead = std::uint64_t{256} << 20;

// A name as UTF-16LE: a compressed one holds one byte for each character.
std::string Utf16Name(std::string bytes, bool compressed) {
  if (!compressed) return bytes;
  std::string wide;
  wide.reserve(2 * bytes.size());
  for (char c : bytes) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

std::uint32_t Upper16(std::uint32_t unit) {
  return unit >= 0xD800 && unit < 0xE000 ? unit : static_cast<std::uint32_t>(UpperCase(unit));
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t at = 0; at + 1 < a.size(); at += 2) {
    if (Upper16(static_cast<std::uint32_t>(Field(a, at, 2))) !=
        Upper16(static_cast<std::uint32_t>(Field(b, at, 2)))) {
      return false;
    }
  }
  return a.size() % 2 == 0 || a.back() == b.back();
}

bool HiveWalk::Word(std::uint64_t at, std::uint32_t* value) const {
  std::string bytes;
  if (!pages_.Read(at, 4, &bytes)) return false;
  *value = static_cast<std::uint32_t>(Field(bytes, 0, 4));
  return true;
}

std::string HiveWalk::BinOf(std::uint64_t offset, std::uint64_t* start, std::uint64_t* end) const {
  if (offset < kHiveBaseBlock + kBinHeader || offset >= bins_end_) {
    return "a cell at " + Hex(offset) + " lies outside the hive bins";
  }
  // A bin found once serves every later cell in it: a big bin's header lies
  // far behind most of its cells.
  if (auto known = bins_.upper_bound(offset);
      known != bins_.begin() && offset < std::prev(known)->second) {
    *start = std::prev(known)->first;
    *end = std::prev(known)->second;
    return "";
  }
  // A bin starts on a page: the nearest header before the cell is its bin's.
  // The pages before it are read a stretch at a time, as a big bin has many.
  const std::uint64_t page = offset / kHivePage * kHivePage;
  std::string stretch;
  std::uint64_t stretch_at = page + kHivePage;
  for (std::uint64_t at = page; at >= kHiveBaseBlock && page - at < kLargestBin; at -= kHivePage) {
    if (at < stretch_at) {
      // The cell's own page first: most bins are one page.
      const std::uint64_t behind = at == page ? 0 : kBinScanStretch - kHivePage;
      stretch_at = at - std::min(at - kHiveBaseBlock, behind);
      if (!pages_.Read(stretch_at, at + kHivePage - stretch_at, &stretch)) {
        return "its hive bin at " + Hex(at) + " cannot be read";
      }
    }
    const std::string_view header = std::string_view(stretch).substr(at - stretch_at, 12);
    if (header.substr(0, 4) != "hbin" ||
        InFile(static_cast<std::uint32_t>(Field(header, 4, 4))) != at) {
      continue;
    }
    const std::uint64_t size = Field(header, 8, 4);
    if (size == 0 || size % kHivePage != 0 || size > bins_end_ - at || at + size <= offset) {
      return "its hive bin at " + Hex(at) + " is damaged";
    }
    *start = at;
    *end = at + size;
    bins_.emplace(at, at + size);
    return "";
  }
  return "a cell at " + Hex(offset) + " lies in no hive bin";
}

std::string HiveWalk::OnChain(std::uint64_t offset) const {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  if (std::string wrong = BinOf(offset, &start, &end); !wrong.empty()) return wrong;
  std::string stretch;
  std::uint64_t stretch_at = 0;
  std::uint64_t at = start + kBinHeader;
  while (at < offset) {
    if (at < stretch_at || at + 4 > stretch_at + stretch.size()) {
      stretch_at = at;
      if (!pages_.Read(at, std::min(kBinScanStretch, end - at), &stretch)) {
        return "its hive bin at " + Hex(start) + " cannot be read";
      }
    }
    const auto stored = static_cast<std::uint32_t>(Field(stretch, at - stretch_at, 4));
    const std::uint64_t size = (stored & 0x80000000U) != 0 ? 0x100000000ULL - stored : stored;
    if (size < 8 || size % 8 != 0 || size > end - at) {
      return "its hive bin at " + Hex(start) + " holds a cell at " + Hex(at) +
             " whose size does not fit it";
    }
    at += size;
  }
  return at == offset ? "" : "its cell at " + Hex(offset) + " lies inside another cell";
}

std::string HiveWalk::UsedCell(std::uint64_t offset, std::uint64_t least, const char* signature,
                               std::uint64_t* size) const {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  if (std::string wrong = BinOf(offset, &start, &end); !wrong.empty()) return wrong;
  std::string head;
  if (!pages_.Read(offset, 6, &head)) return "its cell at " + Hex(offset) + " cannot be read";
  const auto stored = static_cast<std::uint32_t>(Field(head, 0, 4));
  // A used cell gives its size as a negative number.
  if ((stored & 0x80000000) == 0) return "its cell at " + Hex(offset) + " is a free cell";
  *size = std::uint64_t{static_cast<std::uint32_t>(-stored)};
  if (offset < start + kBinHeader || *size > end - offset) {
    return "its cell at " + Hex(offset) + " runs past its hive bin";
  }
  if (*size < least) return "its cell at " + Hex(offset) + " is too small for what it holds";
  if (signature != nullptr && head.compare(4, 2, signature) != 0) {
    return "its cell at " + Hex(offset) + " is not the " + signature + " cell it should be";
  }
  return "";
}

std::string HiveWalk::Key(std::uint32_t stored, KeyCell* key, bool named) const {
  const std::uint64_t offset = InFile(stored);
  std::uint64_t size = 0;
  if (std::string wrong = UsedCell(offset, kKeyFixed, "nk", &size); !wrong.empty()) return wrong;
  std::string fixed;
  if (!pages_.Read(offset, kKeyFixed, &fixed)) return "a key at " + Hex(offset) + " cannot be read";
  const std::uint64_t name_length = named ? Field(fixed, kKeyNameLength, 2) : 0;
  if (std::string wrong = Spend(0, name_length); !wrong.empty()) return wrong;
  std::string name;
  if (kKeyFixed + name_length > size || !pages_.Read(offset + kKeyFixed, name_length, &name)) {
    return "the name of a key at " + Hex(offset) + " runs past its cell";
  }
  key->cell = offset;
  key->name = Utf16Name(std::move(name), (Field(fixed, kKeyFlags, 2) & kKeyNameCompressed) != 0);
  key->subkeys = static_cast<std::uint32_t>(Field(fixed, kKeySubkeyCount, 4));
  key->subkey_list = static_cast<std::uint32_t>(Field(fixed, kKeySubkeyList, 4));
  key->values = static_cast<std::uint32_t>(Field(fixed, kKeyValueCount, 4));
  key->value_list = static_cast<std::uint32_t>(Field(fixed, kKeyValueList, 4));
  return "";
}

// A child looked up by name. Leaves that keep a hash (lh) or the first
// characters (lf) of each name are searched as Windows searches them: only
// the entries those point to are looked at (a reader of every name looks at
// each entry in turn).
struct HiveWalk::Search {
  std::string_view name;  // UTF-16LE
  std::uint32_t hash = 0;
  std::u32string hint;      // the first characters, in upper case
  bool every_name = false;  // each entry's name is compared, whatever its hash or hint
  std::uint64_t examined = 0;
  std::vector<KeyCell>* every = nullptr;  // where given, every key is kept, none matched
  KeyPlace* place = nullptr;  // where given, every list and the keys they name, none read
  std::unordered_set<std::uint64_t> seen;  // the cells of the keys kept

  // Whether an element of a leaf of that kind may point at the name: an
  // li's, which say nothing of names, and an lf's without a hint (a name it
  // could not give) always may.
  bool PointsHere(const std::string& kind, std::string_view element) const {
    if (kind == "lh") return Field(element, 4, 4) == hash;
    if (kind != "lf" || element[4] == '\0') return true;
    for (std::size_t i = 0; i < 4; ++i) {
      const auto c = static_cast<unsigned char>(element[4 + i]);
      if (i == hint.size()) return c == 0;  // a shorter name: zeros behind it
      if (UpperCase(c) != hint[i]) return false;
    }
    return true;
  }
};

std::string HiveWalk::Leaf(std::uint64_t list, Search* search, KeyCell* child, bool* found,
                           bool under_root) const {
  std::uint64_t size = 0;
  if (std::string wrong = UsedCell(list, kListHead, nullptr, &size); !wrong.empty()) return wrong;
  std::string head;
  if (!pages_.Read(list + 4, 4, &head)) return "a subkey list at " + Hex(list) + " cannot be read";
  const std::string kind = head.substr(0, 2);
  const std::uint64_t count = Field(head, 2, 2);
  const std::uint64_t step = kind == "lf" || kind == "lh" ? 8 : 4;
  if ((kind != "lf" && kind != "lh" && kind != "li" && kind != "ri") ||
      (under_root && kind == "ri")) {
    return "its subkey list at " + Hex(list) + " is of no kind Windows writes there";
  }
  if (kListHead + count * step > size) {
    return "its subkey list at " + Hex(list) + " counts more entries than it holds";
  }
  std::string entries;
  if (!pages_.Read(list + kListHead, count * step, &entries)) {
    return "a subkey list at " + Hex(list) + " cannot be read";
  }
  if (std::string wrong = Spend(count, 0); !wrong.empty()) return wrong;
  if ((search->examined += count) > kMostSubkeys) {
    return "a key lists more subkeys than a hive can hold";
  }
  for (std::uint64_t i = 0; i < count && !*found; ++i) {
    const std::string_view element = std::string_view(entries).substr(i * step, step);
    const auto entry = static_cast<std::uint32_t>(Field(element, 0, 4));
    if (kind == "ri") {
      if (std::string wrong = Leaf(InFile(entry), search, child, found, true); !wrong.empty()) {
        return wrong;
      }
      continue;
    }
    if (search->place != nullptr) {
      search->place->listed.push_back(InFile(entry));
      continue;
    }
    if (search->every == nullptr && !search->every_name && !search->PointsHere(kind, element)) {
      continue;
    }
    if (std::string wrong = Key(entry, child); !wrong.empty()) return wrong;
    if (search->every != nullptr) {
      // Windows' lists name a key once; one named again and again would be
      // read again and again.
      if (!search->seen.insert(child->cell).second) {
        return "its subkey list at " + Hex(list) + " names the key at " + Hex(child->cell) +
               " twice";
      }
      search->every->push_back(*child);
    } else {
      *found = SameName(child->name, search->name);
    }
  }
  if (search->place != nullptr) search->place->lists.push_back(list);
  return "";
}

std::string HiveWalk::Child(const KeyCell& key, std::string_view name, KeyCell* child,
                            bool* found) const {
  *found = false;
  if (key.subkeys == 0) return "";
  Search search;
  search.name = name;
  for (std::size_t at = 0; at + 1 < name.size(); at += 2) {
    const auto unit = static_cast<std::uint32_t>(Field(name, at, 2));
    search.hash = 37 * search.hash + Upper16(unit);
    if (search.hint.size() < 4) search.hint += static_cast<char32_t>(Upper16(unit));
  }
  search.every_name = lookup_ == Lookup::kEveryName;
  return Leaf(InFile(key.subkey_list), &search, child, found, false);
}

std::string HiveWalk::Children(const KeyCell& key, std::vector<KeyCell>* children) const {
  children->clear();
  if (key.subkeys == 0) return "";
  // A search no name matches, that looks at every entry, keeps each key.
  Search every;
  every.every = children;
  bool found = false;
  KeyCell child;
  return Leaf(InFile(key.subkey_list), &every, &child, &found, false);
}

std::string HiveWalk::Place(const std::vector<KeyCell>& way, KeyPlace* place) const {
  *place = KeyPlace{};
  for (const KeyCell& key : way) {
    place->keys.push_back(key.cell);
    if (key.subkeys == 0) continue;
    Search listing;
    listing.place = place;
    bool found = false;
    KeyCell child;
    if (std::string wrong = Leaf(InFile(key.subkey_list), &listing, &child, &found, false);
        !wrong.empty()) {
      return wrong;
    }
  }
  return "";
}

std::string HiveWalk::Values(const KeyCell& key, std::vector<ValueCell>* values) const {
  values->clear();
  if (key.values == 0) return "";
  const std::uint64_t list = InFile(key.value_list);
  std::uint64_t size = 0;
  if (std::string wrong = UsedCell(list, 4, nullptr, &size); !wrong.empty()) return wrong;
  if (4 + std::uint64_t{4} * key.values > size) {
    return "its value list at " + Hex(list) + " counts more values than it holds";
  }
  if (std::string wrong = Spend(key.values, 0); !wrong.empty()) return wrong;
  std::string entries;
  if (!pages_.Read(list + 4, std::uint64_t{4} * key.values, &entries)) {
    return "its value list at " + Hex(list) + " cannot be read";
  }
  std::unordered_set<std::uint64_t> seen;
  for (std::uint64_t i = 0; i < key.values; ++i) {
    ValueCell value;
    value.cell = InFile(static_cast<std::uint32_t>(Field(entries, 4 * i, 4)));
    if (!seen.insert(value.cell).second) {
      return "its value list at " + Hex(list) + " names the value at " + Hex(value.cell) + " twice";
    }
    if (std::string wrong = UsedCell(value.cell, kValueFixed, "vk", &size); !wrong.empty()) {
      return wrong;
    }
    std::string fixed;
    if (!pages_.Read(value.cell, kValueFixed, &fixed)) {
      return "a value at " + Hex(value.cell) + " cannot be read";
    }
    const std::uint64_t name_length = Field(fixed, kValueNameLength, 2);
    if (std::string wrong = Spend(0, name_length); !wrong.empty()) return wrong;
    std::string name;
    if (kValueFixed + name_length > size ||
        !pages_.Read(value.cell + kValueFixed, name_length, &name)) {
      return "the name of a value at " + Hex(value.cell) + " runs past its cell";
    }
    value.name =
        Utf16Name(std::move(name), (Field(fixed, kValueFlags, 2) & kValueNameCompressed) != 0);
    const auto length = static_cast<std::uint32_t>(Field(fixed, kValueDataLength, 4));
    value.in_value = (length & kDataInline) != 0;
    value.length = length & ~kDataInline;
    value.data = static_cast<std::uint32_t>(Field(fixed, kValueData, 4));
    value.type = static_cast<std::uint32_t>(Field(fixed, kValueType, 4));
    if (value.in_value && value.length > 4) {
      return "a value at " + Hex(value.cell) + " holds more data in itself than it can";
    }
    values->push_back(std::move(value));
  }
  return "";
}

std::string HiveWalk::Spend(std::uint64_t entries, std::uint64_t data) const {
  entries_read_ += entries;
  data_read_ += data;
  if (entries_read_ > kMostEntriesRead || data_read_ > kMostDataRead) {
    return "its lists lead to more entries or data than any hive holds (" +
           std::to_string(kMostEntriesRead) + " entries, " + std::to_string(kMostDataRead >> 20) +
           " MiB), as lists that lead back into each other do";
  }
  return "";
}

std::uint64_t HiveWalk::DataCell(const ValueCell& value) const {
  return value.in_value || value.length == 0 || IsBigData(minor_version_, value.length)
             ? 0
             : InFile(value.data);
}

std::string HiveWalk::Data(const ValueCell& value, std::string* data) const {
  data->clear();
  if (value.in_value) {
    std::string word;
    PutField(&word, value.data, 4);
    *data = word.substr(0, value.length);
    return "";
  }
  if (value.length == 0) return "";
  if (kHiveBaseBlock + std::uint64_t{value.length} > bins_end_) {
    return "a value at " + Hex(value.cell) + " gives its data a length no hive holds";
  }
  if (std::string wrong = Spend(0, value.length); !wrong.empty()) return wrong;
  std::uint64_t size = 0;
  if (const std::uint64_t cell = DataCell(value); cell != 0) {
    if (std::string wrong = UsedCell(cell, 4 + std::uint64_t{value.length}, nullptr, &size);
        !wrong.empty()) {
      return wrong;
    }
    return pages_.Read(cell + 4, value.length, data) ? ""
                                                     : "data at " + Hex(cell) + " cannot be read";
  }
  return BigData(value, data, nullptr);
}

std::string HiveWalk::BigDataCells(const ValueCell& value,
                                   std::vector<std::uint64_t>* cells) const {
  if (value.in_value || value.length == 0 || !IsBigData(minor_version_, value.length)) return "";
  return BigData(value, nullptr, cells);
}

// Big data: a db cell, its list of segments, each of up to 16344 bytes.
std::string HiveWalk::BigData(const ValueCell& value, std::string* data,
                              std::vector<std::uint64_t>* cells) const {
  std::uint64_t size = 0;
  const std::uint64_t big = InFile(value.data);
  if (std::string wrong = UsedCell(big, 12, "db", &size); !wrong.empty()) return wrong;
  std::string head;
  if (!pages_.Read(big + 6, 6, &head)) return "big data at " + Hex(big) + " cannot be read";
  const std::uint64_t count = Field(head, 0, 2);
  const std::uint64_t list = InFile(static_cast<std::uint32_t>(Field(head, 2, 4)));
  if (count * kLargestPlainData < value.length) {
    return "big data at " + Hex(big) + " has fewer segments than its length needs";
  }
  if (std::string wrong = UsedCell(list, 4 + 4 * count, nullptr, &size); !wrong.empty()) {
    return wrong;
  }
  std::string segments;
  if (!pages_.Read(list + 4, 4 * count, &segments))
    return "big data at " + Hex(big) + " cannot be read";
  if (cells != nullptr) cells->insert(cells->end(), {big, list});
  for (std::uint64_t i = 0, got = 0; got < value.length; ++i) {
    const std::uint64_t segment = InFile(static_cast<std::uint32_t>(Field(segments, 4 * i, 4)));
    const std::uint64_t part = std::min<std::uint64_t>(kLargestPlainData, value.length - got);
    if (std::string wrong = UsedCell(segment, 4 + part, nullptr, &size); !wrong.empty()) {
      return wrong;
    }
    if (cells != nullptr) cells->push_back(segment);
    if (data != nullptr) {
      std::string bytes;
      if (!pages_.Read(segment + 4, part, &bytes)) {
        return "big data at " + Hex(segment) + " cannot be read";
      }
      data->append(bytes);
    }
    got += part;
  }
  return "";
}

}  // namespace vendrel::platform
