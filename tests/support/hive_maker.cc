#include "support/hive_maker.h"

#include <algorithm>
#include <utility>

namespace vendrel::testing {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;
constexpr std::size_t kBinSize = 4096;
constexpr std::size_t kBinHeader = 32;
constexpr std::size_t kBigDataSegment = 16344;
constexpr std::uint64_t kTimestamp = 0x01D9000000000000ULL;  // a FILETIME in 2022

void Put16(std::string& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b) out[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
}

void Put64(std::string& out, std::size_t at, std::uint64_t value) {
  Put32(out, at, static_cast<std::uint32_t>(value));
  Put32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t Get32(const std::string& in, std::size_t at) {
  std::uint32_t value = 0;
  for (int b = 3; b >= 0; --b) value = (value << 8) | static_cast<unsigned char>(in[at + b]);
  return value;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Uppercase(std::string text) {
  for (char& c : text) c = Upper(c);
  return text;
}

// A self-relative security descriptor: owner Administrators, group SYSTEM,
// a DACL granting Everyone full control.
std::string SecurityDescriptor() {
  const std::string administrators("\x01\x02\0\0\0\0\0\x05\x20\0\0\0\x20\x02\0\0", 16);
  const std::string system("\x01\x01\0\0\0\0\0\x05\x12\0\0\0", 12);
  const std::string everyone("\x01\x01\0\0\0\0\0\x01\0\0\0\0", 12);
  std::string ace("\0\0\0\0\x3f\0\x0f\0", 8);  // allowed, full control
  ace += everyone;
  Put16(ace, 2, static_cast<std::uint16_t>(ace.size()));
  std::string acl("\x02\0\0\0\x01\0\0\0", 8);
  acl += ace;
  Put16(acl, 2, static_cast<std::uint16_t>(acl.size()));
  std::string sd(20, '\0');
  sd[0] = 1;                    // revision
  Put16(sd, 2, 0x8004);         // self-relative, DACL present
  Put32(sd, 4, 20);             // owner
  Put32(sd, 8, 20 + 16);        // group
  Put32(sd, 16, 20 + 16 + 12);  // DACL
  return sd + administrators + system + acl;
}

class Writer {
 public:
  explicit Writer(const HiveLayout& layout) : layout_(layout) { OpenBin(kBinSize); }

  // A cell holding data; returns its offset in the hive bins data.
  std::uint32_t Cell(const std::string& data) {
    const std::size_t size = (4 + data.size() + 7) & ~std::size_t{7};
    if (size > bin_end_ - used_) {
      CloseBin();
      OpenBin((kBinHeader + size + kBinSize - 1) / kBinSize * kBinSize);
    }
    const std::size_t at = used_;
    Put32(bins_, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
    bins_.replace(at + 4, data.size(), data);
    used_ += size;
    return static_cast<std::uint32_t>(at);
  }

  // Changes 4 bytes of a cell's data.
  void Patch(std::uint32_t cell, std::size_t at, std::uint32_t value) {
    Put32(bins_, cell + 4 + at, value);
  }

  std::string Finish(std::uint32_t root) {
    CloseBin();
    std::string base(kBinSize, '\0');
    base.replace(0, 4, "regf");
    Put32(base, 4, layout_.primary_sequence);
    Put32(base, 8, layout_.secondary_sequence);
    Put64(base, 12, kTimestamp);
    Put32(base, 20, 1);
    Put32(base, 24, layout_.minor_version);
    Put32(base, 28, 0);  // primary file
    Put32(base, 32, 1);  // direct memory load
    Put32(base, 36, root);
    Put32(base, 40, static_cast<std::uint32_t>(bins_.size()));
    Put32(base, 44, 1);  // clustering factor
    for (std::size_t i = 0; i < layout_.file_name.size() && i < 31; ++i) {
      base[48 + 2 * i] = layout_.file_name[i];
    }
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 508; at += 4) sum ^= Get32(base, at);
    // Windows never stores 0 or all ones: a plain XOR of 0 is stored as 1,
    // one of 0xFFFFFFFF as 0xFFFFFFFE.
    if (sum == 0) sum = 1;
    if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
    Put32(base, 508, sum);
    return base + bins_;
  }

  const HiveLayout& layout() const { return layout_; }

 private:
  void OpenBin(std::size_t size) {
    const std::size_t at = bins_.size();
    bins_.resize(at + size, '\0');
    bins_.replace(at, 4, "hbin");
    Put32(bins_, at + 4, static_cast<std::uint32_t>(at));
    Put32(bins_, at + 8, static_cast<std::uint32_t>(size));
    if (at == 0) Put64(bins_, at + 20, kTimestamp);
    used_ = at + kBinHeader;
    bin_end_ = at + size;
  }

  // The rest of the bin becomes one free cell.
  void CloseBin() {
    if (used_ < bin_end_) Put32(bins_, used_, static_cast<std::uint32_t>(bin_end_ - used_));
    used_ = bin_end_;
  }

  HiveLayout layout_;
  std::string bins_;
  std::size_t used_ = 0;
  std::size_t bin_end_ = 0;
};

// A name as the hive stores it: a byte each, or UTF-16 where the layout asks.
std::string StoredName(const Writer& writer, const std::string& latin1) {
  if (!writer.layout().wide_names) return latin1;
  const std::string wide = Utf16Text(latin1);
  return wide.substr(0, wide.size() - 2);
}

std::string ValueData(Writer& writer, const HiveValue& value, std::uint32_t* offset) {
  const std::string& data = value.data;
  if (data.size() <= 4) {
    std::string inline_data = data;
    inline_data.resize(4, '\0');
    *offset = static_cast<std::uint32_t>(static_cast<unsigned char>(inline_data[0])) |
              static_cast<std::uint32_t>(static_cast<unsigned char>(inline_data[1])) << 8 |
              static_cast<std::uint32_t>(static_cast<unsigned char>(inline_data[2])) << 16 |
              static_cast<std::uint32_t>(static_cast<unsigned char>(inline_data[3])) << 24;
    return data;
  }
  if (data.size() > kBigDataSegment && writer.layout().minor_version >= 4) {
    std::string segments;
    for (std::size_t at = 0; at < data.size(); at += kBigDataSegment) {
      std::string offset_bytes(4, '\0');
      Put32(offset_bytes, 0, writer.Cell(data.substr(at, kBigDataSegment)));
      segments += offset_bytes;
    }
    std::string big("db\0\0\0\0\0\0", 8);
    Put16(big, 2, static_cast<std::uint16_t>(segments.size() / 4));
    Put32(big, 4, writer.Cell(segments));
    *offset = writer.Cell(big);
    return data;
  }
  *offset = writer.Cell(data);
  return data;
}

std::uint32_t WriteValue(Writer& writer, const HiveValue& value) {
  std::uint32_t data_offset = 0;
  ValueData(writer, value, &data_offset);
  const std::string name = StoredName(writer, value.name);
  std::string vk(20, '\0');
  vk.replace(0, 2, "vk");
  Put16(vk, 2, static_cast<std::uint16_t>(name.size()));
  std::uint32_t size = static_cast<std::uint32_t>(value.data.size());
  if (value.data.size() <= 4) size |= 0x80000000u;
  Put32(vk, 4, size);
  Put32(vk, 8, data_offset);
  Put32(vk, 12, value.type);
  Put16(vk, 16, writer.layout().wide_names ? 0 : 1);  // single-byte text, or UTF-16
  return writer.Cell(vk + name);
}

// A subkey list of one kind, its elements pointing at children.
std::uint32_t SubkeyList(Writer& writer, const std::string& kind,
                         const std::vector<std::pair<std::string, std::uint32_t>>& children);

std::uint32_t NameHash(const std::string& name) {
  std::uint32_t hash = 0;
  for (char c : Uppercase(name)) hash = hash * 37 + static_cast<unsigned char>(c);
  return hash;
}

std::uint32_t WriteKey(Writer& writer, const HiveKey& key, std::uint32_t parent,
                       std::uint32_t security, bool root) {
  std::string nk(76, '\0');
  nk.replace(0, 2, "nk");
  const std::string name = StoredName(writer, key.name);
  const std::uint16_t single_byte = writer.layout().wide_names ? 0 : 0x20;
  Put16(nk, 2, static_cast<std::uint16_t>((root ? 0x0C : 0) | single_byte));  // (root, no delete)
  Put64(nk, 4, kTimestamp);
  Put32(nk, 16, parent);
  Put32(nk, 28, kNone);
  Put32(nk, 32, kNone);
  Put32(nk, 40, kNone);
  Put32(nk, 44, security);
  Put32(nk, 48, kNone);
  Put16(nk, 72, static_cast<std::uint16_t>(name.size()));
  const std::uint32_t self = writer.Cell(nk + name);

  std::uint32_t largest_name = 0;
  std::uint32_t largest_data = 0;
  if (!key.values.empty()) {
    std::string list;
    for (const HiveValue& value : key.values) {
      std::string offset(4, '\0');
      Put32(offset, 0, WriteValue(writer, value));
      list += offset;
      largest_name = std::max(largest_name, static_cast<std::uint32_t>(2 * value.name.size()));
      largest_data = std::max(largest_data, static_cast<std::uint32_t>(value.data.size()));
    }
    writer.Patch(self, 36, static_cast<std::uint32_t>(key.values.size()));
    writer.Patch(self, 40, writer.Cell(list));
  }
  if (!key.class_name.empty()) {
    writer.Patch(self, 48,
                 writer.Cell(Utf16Text(key.class_name).substr(0, 2 * key.class_name.size())));
    std::string lengths(4, '\0');
    Put16(lengths, 0, static_cast<std::uint16_t>(name.size()));
    Put16(lengths, 2, static_cast<std::uint16_t>(2 * key.class_name.size()));
    writer.Patch(self, 72, Get32(lengths, 0));
  }
  if (!key.children.empty()) {
    std::vector<std::pair<std::string, std::uint32_t>> children;
    std::uint32_t largest_child = 0;
    for (const HiveKey& child : key.children) {
      children.emplace_back(Uppercase(child.name), WriteKey(writer, child, self, security, false));
      largest_child = std::max(largest_child, static_cast<std::uint32_t>(2 * child.name.size()));
    }
    std::sort(children.begin(), children.end());
    const HiveLayout& layout = writer.layout();
    const std::string kind = !layout.subkey_list.empty() ? layout.subkey_list
                             : layout.minor_version >= 5 ? "lh"
                                                         : "lf";
    std::uint32_t list = 0;
    if (layout.leaf_size == 0 || children.size() <= layout.leaf_size) {
      list = SubkeyList(writer, kind, children);
    } else {
      std::vector<std::pair<std::string, std::uint32_t>> leaves;
      for (std::size_t at = 0; at < children.size(); at += layout.leaf_size) {
        const auto end = children.begin() + static_cast<std::ptrdiff_t>(
                                                std::min(children.size(), at + layout.leaf_size));
        leaves.emplace_back(
            "",
            SubkeyList(writer, kind, {children.begin() + static_cast<std::ptrdiff_t>(at), end}));
      }
      list = SubkeyList(writer, "ri", leaves);
    }
    writer.Patch(self, 20, static_cast<std::uint32_t>(children.size()));
    writer.Patch(self, 28, list);
    writer.Patch(self, 52, largest_child);
  }
  writer.Patch(self, 60, largest_name);
  writer.Patch(self, 64, largest_data);
  return self;
}

std::uint32_t SubkeyList(Writer& writer, const std::string& kind,
                         const std::vector<std::pair<std::string, std::uint32_t>>& children) {
  std::string list(4, '\0');
  list.replace(0, 2, kind);
  Put16(list, 2, static_cast<std::uint16_t>(children.size()));
  for (const auto& [name, offset] : children) {
    std::string element(kind == "lf" || kind == "lh" ? 8 : 4, '\0');
    Put32(element, 0, offset);
    if (kind == "lh") Put32(element, 4, NameHash(name));
    if (kind == "lf") element.replace(4, std::min<std::size_t>(4, name.size()), name.substr(0, 4));
    list += element;
  }
  return writer.Cell(list);
}

std::uint32_t CountKeys(const HiveKey& key) {
  std::uint32_t count = 1;
  for (const HiveKey& child : key.children) count += CountKeys(child);
  return count;
}

}  // namespace

HiveKey& HiveKey::Child(const std::string& child_name) {
  for (HiveKey& child : children) {
    if (Uppercase(child.name) == Uppercase(child_name)) return child;
  }
  children.push_back(HiveKey{child_name, {}, {}, {}});
  return children.back();
}

std::string Utf16Text(const std::string& latin1) {
  std::string out;
  for (char c : latin1) {
    out += c;
    out += '\0';
  }
  return out + std::string(2, '\0');
}

std::string MakeHive(const HiveKey& root, const HiveLayout& layout) {
  Writer writer(layout);
  const std::string descriptor = SecurityDescriptor();
  std::string sk(16, '\0');
  sk.replace(0, 2, "sk");
  Put32(sk, 12, CountKeys(root));
  std::string length(4, '\0');
  Put32(length, 0, static_cast<std::uint32_t>(descriptor.size()));
  const std::uint32_t security = writer.Cell(sk + length + descriptor);
  // A lone security cell is a list of one: it points to itself both ways.
  writer.Patch(security, 4, security);
  writer.Patch(security, 8, security);
  const std::uint32_t top = WriteKey(writer, root, 0, security, true);
  return writer.Finish(top);
}

}  // namespace vendrel::testing
