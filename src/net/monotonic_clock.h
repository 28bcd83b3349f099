#pragma once

#include <cstdint>

#include "sys/lock.h"

namespace net {

// Extends a 32-bit millisecond tick that wraps every 49.7 days to 64 bits,
// for systems without a 64-bit tick (GetTickCount64 is Vista and later).
// Each wrap is seen as long as the tick is read at least once per wrap,
// which a download's polling does many times a second.
class TickExtender {
 public:
  std::uint64_t Extend(std::uint32_t tick);

 private:
  Lock lock_;
  std::uint64_t last_ = 0;
};

// Milliseconds since an arbitrary moment, never going back and unmoved when
// the system clock is set: every interval and deadline of a download is
// measured on it. Windows only.
std::uint64_t MonotonicMs();
// Whole seconds of MonotonicMs: the stamps of the speed ring.
inline std::uint32_t MonotonicSeconds() { return static_cast<std::uint32_t>(MonotonicMs() / 1000); }

}  // namespace net
