#include "support/log_maker.h"

#include <string_view>

#include "platform/posix/registry/hive/marvin32.h"

namespace vendrel::testing {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kBaseBlock = 4096;

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
  for (std::size_t b = 0; b < 4; ++b) out[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
}

void Put64(std::string& out, std::size_t at, std::uint64_t value) {
  Put32(out, at, static_cast<std::uint32_t>(value));
  Put32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t Get32(const std::string& in, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t b = 4; b-- > 0;) value = (value << 8) | static_cast<unsigned char>(in[at + b]);
  return value;
}

std::string BaseSector(const LogBase& base) {
  std::string sector = base.copied_from.substr(0, kSector);
  sector.resize(kSector, '\0');
  sector.replace(0, 4, "regf");
  Put32(sector, 4, base.sequence);
  Put32(sector, 8, base.sequence);
  Put64(sector, 12, base.timestamp);
  Put32(sector, 28, base.file_type);
  Put32(sector, 40, base.bins_size);
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 508; at += 4) sum ^= Get32(sector, at);
  if (sum == 0) sum = 1;
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  Put32(sector, 508, sum);
  return sector;
}

std::string Entry(const LogEntryShape& shape) {
  std::string entry(40, '\0');
  entry.replace(0, 4, "HvLE");
  for (const LogPage& page : shape.pages) {
    std::string reference(8, '\0');
    Put32(reference, 0, page.offset);
    Put32(reference, 4, static_cast<std::uint32_t>(page.bytes.size()));
    entry += reference;
  }
  if (!shape.pages.empty() && shape.first_page_size_field) {
    Put32(entry, 44, *shape.first_page_size_field);
  }
  for (const LogPage& page : shape.pages) entry += page.bytes;
  entry.resize((entry.size() + kSector - 1) / kSector * kSector, '\0');
  Put32(entry, 4, shape.size_field.value_or(static_cast<std::uint32_t>(entry.size())));
  Put32(entry, 8, shape.flags);
  Put32(entry, 12, shape.sequence);
  Put32(entry, 16, shape.bins_size);
  Put32(entry, 20, shape.page_count_field.value_or(static_cast<std::uint32_t>(shape.pages.size())));
  std::uint64_t first = platform::Marvin32(std::string_view(entry).substr(40));
  if (shape.break_hash) first ^= 1;
  Put64(entry, 24, first);
  Put64(entry, 32, platform::Marvin32(std::string_view(entry).substr(0, 32)));
  return entry;
}

}  // namespace

std::string MakeLog(const LogBase& base, const std::vector<LogEntryShape>& entries) {
  std::string log = BaseSector(base);
  for (const LogEntryShape& shape : entries) log += Entry(shape);
  return log;
}

std::string MakeDirtyVectorLog(const LogBase& base, const std::string& bins,
                               const std::vector<std::size_t>& dirty) {
  std::string log = BaseSector(base);
  std::string vector = "DIRT" + std::string(base.bins_size / kSector / 8, '\0');
  for (std::size_t page : dirty)
    vector[4 + page / 8] =
        static_cast<char>(static_cast<unsigned char>(vector[4 + page / 8]) | (1u << (page % 8)));
  vector.resize((vector.size() + kSector - 1) / kSector * kSector, '\0');
  log += vector;
  for (std::size_t page : dirty) log += bins.substr(page * kSector, kSector);
  return log;
}

std::vector<LogPage> BinsAsPages(const std::string& hive) {
  return {LogPage{0, hive.substr(kBaseBlock)}};
}

}  // namespace vendrel::testing
