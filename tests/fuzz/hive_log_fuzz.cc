// A dirty hive and its transaction logs, whatever their bytes: recovery
// either applies the logs and leaves a clean base block, or refuses and
// leaves the hive as it was. It never grows the hive by more than the logs
// hold.
//
// An input is one byte of choices, the lengths of the hive and of the first
// log (4 bytes each, little-endian), then the hive, the first log and the
// second (what is left; none when empty). Unless the choices say otherwise,
// the checksums and hashes are mended first, so that most changes the fuzzer
// makes reach the checks behind them.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/marvin32.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace {

using vendrel::platform::Field;
using vendrel::platform::HiveHeader;
using vendrel::platform::HiveLog;
using vendrel::platform::HiveState;
using vendrel::platform::Marvin32;
using vendrel::platform::MendHiveChecksum;
using vendrel::platform::ReadHiveHeader;
using vendrel::platform::RecoverHive;
using vendrel::platform::Recovery;

constexpr std::uint8_t kKeepChecksums = 1;
constexpr std::size_t kSector = 512;

void Put64(std::string* bytes, std::size_t at, std::uint64_t value) {
  for (std::size_t b = 0; b < 8; ++b)
    (*bytes)[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
}

// The base block's checksum, then each entry's two hashes, as Windows would
// have written them.
void MendLog(std::string* log) {
  MendHiveChecksum(log->data(), log->size());
  for (std::size_t at = kSector; at + 40 <= log->size();) {
    if (log->compare(at, 4, "HvLE") != 0) break;
    const std::size_t size = Field(*log, at + 4, 4);
    if (size < 40 || size > log->size() - at) break;
    const std::string_view entry = std::string_view(*log).substr(at, size);
    Put64(log, at + 24, Marvin32(entry.substr(40)));
    Put64(log, at + 32, Marvin32(entry.substr(0, 32)));
    at += (size + kSector - 1) / kSector * kSector;
  }
}

std::string Take(const std::uint8_t*& data, std::size_t& size, std::size_t wanted) {
  const std::size_t taken = wanted < size ? wanted : size;
  std::string bytes(reinterpret_cast<const char*>(data), taken);
  data += taken;
  size -= taken;
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  const std::uint8_t choices = data[0];
  const std::string lengths(reinterpret_cast<const char*>(data) + 1, 8);
  data += 9;
  size -= 9;
  std::string hive = Take(data, size, Field(lengths, 0, 4));
  std::vector<HiveLog> logs;
  logs.push_back({"HIVE.LOG1", Take(data, size, Field(lengths, 4, 4))});
  if (size > 0) logs.push_back({"HIVE.LOG2", Take(data, size, size)});
  if ((choices & kKeepChecksums) == 0) {
    MendHiveChecksum(hive.data(), hive.size());
    for (HiveLog& log : logs) MendLog(&log.bytes);
  }

  const std::string before = hive;
  std::size_t held = hive.size();
  for (const HiveLog& log : logs) held += log.bytes.size();
  Recovery recovery;
  const std::string reason = RecoverHive(&hive, logs, &recovery);
  FUZZ_CHECK(hive.size() <= held);
  if (!reason.empty() || !recovery.was_dirty) {
    FUZZ_CHECK(hive == before);
    FUZZ_CHECK(recovery.logs_used.empty());
    return 0;
  }
  HiveHeader header;
  FUZZ_CHECK(ReadHiveHeader(hive, &header) == HiveState::kUsable);
  FUZZ_CHECK(header.primary_sequence == recovery.sequence);
  FUZZ_CHECK(recovery.entries_applied > 0 && !recovery.logs_used.empty());
  FUZZ_CHECK(hive.size() >= vendrel::platform::kHiveBaseBlock + header.bins_size);
  return 0;
}
