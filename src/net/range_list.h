#pragma once

#include <cstdint>
#include <vector>

namespace net {

// An inclusive byte range; first = last + 1 would be empty and is never stored.
struct ByteRange {
  uint32_t first;
  uint32_t last;

  uint64_t Length() const { return uint64_t{last} - first + 1; }
};

inline bool operator==(const ByteRange& a, const ByteRange& b) {
  return a.first == b.first && a.last == b.last;
}

// Ordered list of the byte ranges still to fetch.
class RangeList {
 public:
  RangeList() = default;
  // The fresh list of a download of unknown size: [0, 0xFFFFFFFF].
  static RangeList Whole();

  // Appends a range at the end; an inverted range is ignored.
  void Append(ByteRange range);
  void Assign(const std::vector<ByteRange>& ranges);
  void Clear() { ranges_.clear(); }

  // Removes [first, last] from the pending ranges. A range that is cut is
  // replaced, at its index, by its left part and then its right part (each
  // only when not empty). Returns true when every byte of [first, last] was
  // pending; false when some of it was not (already removed, or outside).
  bool DeleteRange(uint32_t first, uint32_t last);

  // Sum of the range lengths. 64-bit: the fresh list alone holds 2^32 bytes.
  uint64_t TotalBytes() const;

  const std::vector<ByteRange>& ranges() const { return ranges_; }
  std::size_t size() const { return ranges_.size(); }
  bool empty() const { return ranges_.empty(); }

 private:
  std::vector<ByteRange> ranges_;
};

}  // namespace net
