#include "platform/posix/registry/hive/log_base_block.h"

#include <string>

#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_header.h"

namespace vendrel::platform {

bool ReadLogBaseBlock(std::string_view log, LogBaseBlock* block) {
  if (log.size() < kLogSector) return false;
  // Only the first sector is written to a log; the checksum covers less.
  std::string base_block(log.substr(0, kLogSector));
  base_block.resize(kHiveBaseBlock, '\0');
  HiveHeader header;
  if (ReadHiveHeader(base_block, &header) != HiveState::kUsable) return false;
  block->file_type = static_cast<std::uint32_t>(Field(log, kFileTypeAt, 4));
  if (block->file_type != kDirtyVectorLog && block->file_type != kLogEntriesLog) return false;
  block->sequence = header.primary_sequence;
  block->timestamp = Field(log, kTimestampAt, 8);
  block->bins_size = header.bins_size;
  return true;
}

}  // namespace vendrel::platform
