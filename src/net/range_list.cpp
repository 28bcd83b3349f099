#include "net/range_list.h"

#include <algorithm>

namespace net {

namespace {

bool Overlap(const ByteRange& a, const ByteRange& b, ByteRange* overlap) {
  const uint32_t first = std::max(a.first, b.first);
  const uint32_t last = std::min(a.last, b.last);
  if (first > last) return false;
  *overlap = ByteRange{first, last};
  return true;
}

// Replaces list[index] by what is left of it once cut is removed (cut lies
// inside it): left part, then right part. Returns how many ranges now stand
// where list[index] stood.
std::size_t CutOut(std::vector<ByteRange>* list, std::size_t index, const ByteRange& cut) {
  const ByteRange whole = (*list)[index];
  std::vector<ByteRange> parts;
  if (cut.first > whole.first) parts.push_back(ByteRange{whole.first, cut.first - 1});
  if (cut.last < whole.last) parts.push_back(ByteRange{cut.last + 1, whole.last});
  list->erase(list->begin() + static_cast<std::ptrdiff_t>(index));
  list->insert(list->begin() + static_cast<std::ptrdiff_t>(index), parts.begin(), parts.end());
  return parts.size();
}

}  // namespace

RangeList RangeList::Whole() {
  RangeList list;
  list.ranges_.push_back(ByteRange{0, 0xFFFFFFFFu});
  return list;
}

void RangeList::Append(ByteRange range) {
  if (range.first > range.last) return;
  ranges_.push_back(range);
}

void RangeList::Assign(const std::vector<ByteRange>& ranges) {
  ranges_.clear();
  for (const ByteRange& range : ranges) Append(range);
}

bool RangeList::DeleteRange(uint32_t first, uint32_t last) {
  if (first > last) return true;
  std::vector<ByteRange> left{ByteRange{first, last}};
  // Each pass removes one overlap from both sides; both lists only shrink in
  // bytes, so this ends after at most (pending + 1) passes.
  bool found = true;
  while (found && !left.empty()) {
    found = false;
    for (std::size_t p = 0; p < ranges_.size() && !found; ++p) {
      for (std::size_t l = 0; l < left.size(); ++l) {
        ByteRange overlap;
        if (!Overlap(ranges_[p], left[l], &overlap)) continue;
        CutOut(&ranges_, p, overlap);
        CutOut(&left, l, overlap);
        found = true;
        break;
      }
    }
  }
  return left.empty();
}

uint64_t RangeList::TotalBytes() const {
  uint64_t total = 0;
  for (const ByteRange& range : ranges_) total += range.Length();
  return total;
}

}  // namespace net
