// The body of an old-format transaction log: a "DIRT" bitmap of the hive's
// 512-byte pages, then a copy of each page it marks, in order. Windows
// verifies each dirty hive bin before it trusts it, and stops there when one
// fails.
#ifndef VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_DIRTY_VECTOR_H_
#define VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_DIRTY_VECTOR_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/registry/hive/transaction_log.h"

namespace vendrel::platform {

struct DirtyVectorPlan {
  std::uint32_t bins_size = 0;  // what the base block says once applied
  std::size_t page_limit = 0;   // pages from here on are not applied
  std::size_t pages = 0;        // the dirty pages before page_limit
  std::string_view bitmap;      // within the log
  std::size_t pages_at = 0;     // where the log's first dirty page lies
};

// Checks the dirty vector of log, whose base block gives bins_size, against
// hive (base block first): the bitmap and its pages must lie within the
// log, the growth within what the pages bring, and each hive bin a dirty
// page touches must read as a bin once the pages are in. False when no page
// can be applied.
bool PlanDirtyVector(std::string_view log, std::uint32_t bins_size, const HiveSource& hive,
                     DirtyVectorPlan* plan);

// Writes the pages plan allows into hive, growing it when they lie past its end.
void ApplyDirtyVector(std::string_view log, const DirtyVectorPlan& plan, RecoveredImage* hive,
                      std::vector<Stretch>* written);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_REGISTRY_HIVE_DIRTY_VECTOR_H_
