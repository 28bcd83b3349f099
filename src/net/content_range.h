#pragma once

#include <cstddef>
#include <cstdint>

namespace net {

struct ContentRange {
  uint32_t first;
  uint32_t last;
  uint32_t total;
};

// Parses a Content-Range value "bytes first-last/total" ("bytes" in any
// case). Fails on anything else: a missing part, "*", a number that does not
// fit 32 bits, first > last, or last >= total. A failed parse leaves *out alone.
bool ParseContentRange(const wchar_t* text, std::size_t length, ContentRange* out);

}  // namespace net
