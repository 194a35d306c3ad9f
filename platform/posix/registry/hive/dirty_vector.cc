#include "platform/posix/registry/hive/dirty_vector.h"

#include "platform/posix/files/changed_pages.h"
#include "platform/posix/files/little_endian.h"
#include "platform/posix/registry/hive/hive_header.h"
#include "platform/posix/registry/hive/log_base_block.h"

namespace vendrel::platform {
namespace {

constexpr std::size_t kPage = 512;
constexpr std::size_t kBinUnit = 4096;
constexpr std::uint64_t kBinSignature = 0x6E696268;  // "hbin"

struct Layout {
  std::string_view bitmap;
  std::size_t bits = 0;      // one for each page of the hive bins
  std::size_t pages_at = 0;  // where the first dirty page lies in the log
  std::size_t count = 0;     // dirty pages
  std::size_t last = 0;      // the last dirty page
};

bool Dirty(std::string_view bitmap, std::size_t page) {
  return ((static_cast<unsigned char>(bitmap[page / 8]) >> (page % 8)) & 1) != 0;
}

bool ReadLayout(std::string_view log, std::uint32_t bins_size, Layout* layout) {
  if (bins_size == 0 || bins_size % kBinUnit != 0) return false;
  layout->bits = bins_size / kPage;
  const std::size_t bytes = layout->bits / 8;
  if (log.size() < kLogSector + 4 + bytes || log.substr(kLogSector, 4) != "DIRT") return false;
  layout->bitmap = log.substr(kLogSector + 4, bytes);
  // The pages start on the sector after the bitmap's last.
  layout->pages_at = kLogSector + (4 + bytes + kPage - 1) / kPage * kPage;
  for (std::size_t page = 0; page < layout->bits; ++page) {
    if (!Dirty(layout->bitmap, page)) continue;
    ++layout->count;
    layout->last = page;
  }
  return layout->count > 0 && layout->pages_at <= log.size() &&
         (log.size() - layout->pages_at) / kPage >= layout->count;
}

// The hive bins as they read once the dirty pages are in, read forward only.
class Overlay {
 public:
  Overlay(std::string_view log, const Layout& layout, const HiveSource& hive)
      : log_(log), layout_(layout), hive_(hive) {}

  // The word at offset at of the hive bins; at lies 4 bytes or more before
  // the end of its page.
  std::uint64_t Word(std::size_t at) {
    const std::size_t page = at / kPage;
    for (; next_ < page; ++next_) ordinal_ += Dirty(layout_.bitmap, next_) ? 1 : 0;
    if (Dirty(layout_.bitmap, page)) {
      return Field(log_, layout_.pages_at + ordinal_ * kPage + at % kPage, 4);
    }
    std::string word;  // past the end, grown: zeros until written
    if (!hive_.Read(kHiveBaseBlock + at, 4, &word)) return 0;
    return Field(word, 0, 4);
  }

 private:
  std::string_view log_;
  const Layout& layout_;
  const HiveSource& hive_;
  std::size_t next_ = 0;     // the first page not yet counted
  std::size_t ordinal_ = 0;  // dirty pages before next_
};

}  // namespace

bool PlanDirtyVector(std::string_view log, std::uint32_t bins_size, const HiveSource& hive,
                     DirtyVectorPlan* plan) {
  Layout layout;
  if (!ReadLayout(log, bins_size, &layout)) return false;
  Overlay overlay(log, layout, hive);
  const std::size_t dirty_end = (layout.last + 1) * kPage;
  std::size_t bin = 0;
  while (bin < dirty_end) {
    const std::uint64_t size = overlay.Word(bin + 8);
    if (overlay.Word(bin) != kBinSignature || overlay.Word(bin + 4) != bin || size < kBinUnit ||
        size % kBinUnit != 0 || size > bins_size - bin) {
      break;
    }
    bin += static_cast<std::size_t>(size);
  }
  const bool whole = bin >= dirty_end;
  plan->page_limit = whole ? layout.bits : bin / kPage;
  plan->bins_size = whole ? bins_size : static_cast<std::uint32_t>(bin);
  plan->pages = 0;
  for (std::size_t page = 0; page < plan->page_limit; ++page) {
    plan->pages += Dirty(layout.bitmap, page) ? 1 : 0;
  }
  if (plan->pages == 0) return false;
  plan->bitmap = layout.bitmap;
  plan->pages_at = layout.pages_at;
  // Growth is only trusted as far as the pages that fill it.
  std::vector<Stretch> pages;
  for (std::size_t page = 0; page < plan->page_limit; ++page) {
    if (Dirty(layout.bitmap, page)) pages.push_back({page * kPage, kPage});
  }
  return CoversGrowth(hive.size() - kHiveBaseBlock, plan->bins_size, std::move(pages));
}

void ApplyDirtyVector(std::string_view log, const DirtyVectorPlan& plan, RecoveredImage* hive,
                      std::vector<Stretch>* written) {
  hive->Grow(kHiveBaseBlock + std::uint64_t{plan.bins_size});
  std::size_t from = plan.pages_at;
  for (std::size_t page = 0; page < plan.page_limit; ++page) {
    if (!Dirty(plan.bitmap, page)) continue;
    hive->Put(kHiveBaseBlock + page * kPage, log.substr(from, kPage));
    written->push_back({kHiveBaseBlock + page * kPage, kPage});
    from += kPage;
  }
}

}  // namespace vendrel::platform
