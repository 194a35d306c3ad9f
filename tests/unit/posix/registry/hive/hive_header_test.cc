#include "platform/posix/registry/hive/hive_header.h"

#include <gtest/gtest.h>

#include "support/hive_maker.h"

namespace vendrel::platform {
namespace {

using testing::HiveKey;
using testing::HiveLayout;
using testing::MakeHive;

void PutWord(std::string& data, std::size_t at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b) data[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
}

TEST(HiveHeaderTest, TellsAUsableHiveFromADirtyDamagedOrForeignFile) {
  HiveHeader header;
  EXPECT_EQ(ReadHiveHeader(MakeHive(HiveKey{"ROOT", {}, {}, {}}), &header), HiveState::kUsable);
  EXPECT_EQ(header.primary_sequence, 7u);
  EXPECT_EQ(header.minor_version, 5u);

  HiveLayout dirty;
  dirty.secondary_sequence = 6;
  EXPECT_EQ(ReadHiveHeader(MakeHive(HiveKey{"ROOT", {}, {}, {}}, dirty), &header),
            HiveState::kDirty);

  std::string damaged = MakeHive(HiveKey{"ROOT", {}, {}, {}});
  damaged[100] = 'x';
  EXPECT_EQ(ReadHiveHeader(damaged, &header), HiveState::kBadChecksum);
  EXPECT_EQ(ReadHiveHeader("REGEDIT4\r\n", &header), HiveState::kNotAHive);
  EXPECT_EQ(ReadHiveHeader(std::string(8192, '\0'), &header), HiveState::kNotAHive);
}

TEST(HiveHeaderTest, WindowsNeverStoresZeroOrAllOnes) {
  EXPECT_EQ(WindowsChecksum(0), 1u);
  EXPECT_EQ(WindowsChecksum(0xFFFFFFFF), 0xFFFFFFFEu);
  EXPECT_EQ(WindowsChecksum(0x12345678), 0x12345678u);
}

// A base block whose plain XOR is 0 takes 1 as its checksum: the mend
// puts in what Windows expects, and the header then reads as usable.
TEST(HiveHeaderTest, MendWritesTheChecksumWindowsExpects) {
  std::string hive = MakeHive(HiveKey{"ROOT", {}, {}, {}});
  PutWord(hive, 508, 0);
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 508; at += 4) {
    std::uint32_t word = 0;
    for (int b = 3; b >= 0; --b) word = (word << 8) | static_cast<unsigned char>(hive[at + b]);
    sum ^= word;
  }
  PutWord(hive, 400, sum);  // a reserved word: the XOR of the block becomes 0
  MendHiveChecksum(hive.data(), hive.size());
  HiveHeader header;
  EXPECT_EQ(ReadHiveHeader(hive, &header), HiveState::kUsable);
  EXPECT_EQ(header.plain_xor, 0u);
  EXPECT_EQ(header.stored_checksum, 1u);
}

}  // namespace
}  // namespace vendrel::platform
