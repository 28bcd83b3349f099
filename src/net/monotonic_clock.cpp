#include "net/monotonic_clock.h"

namespace net {

std::uint64_t TickExtender::Extend(std::uint32_t tick) {
  AutoLock hold(lock_);
  std::uint64_t high = last_ & ~std::uint64_t{0xFFFFFFFFu};
  if (tick < static_cast<std::uint32_t>(last_)) high += std::uint64_t{1} << 32;
  last_ = high | tick;
  return last_;
}

}  // namespace net
