#include "net/speed_ring.h"

namespace net {

namespace {

uint32_t SlotOf(int32_t index) {
  return static_cast<uint32_t>(index) % SpeedRing::kSlots;
}

}  // namespace

void SpeedRing::Add(uint32_t now, uint32_t bytes) {
  const uint32_t slot = SlotOf(__atomic_load_n(&index, __ATOMIC_SEQ_CST));
  if (stamps[slot] == now) {
    __atomic_add_fetch(&counters[slot], bytes, __ATOMIC_SEQ_CST);
    return;
  }
  const uint32_t next = SlotOf(__atomic_add_fetch(&index, 1, __ATOMIC_SEQ_CST));
  stamps[next] = now;
  counters[next] = bytes;
}

uint32_t SpeedRing::Speed(uint32_t now) const {
  uint64_t sum = 0;
  uint32_t oldest = now;
  for (int i = 0; i < kSlots; ++i) {
    // stamp > now - 20, without wrapping below zero.
    if (static_cast<int64_t>(stamps[i]) > static_cast<int64_t>(now) - kSlots) {
      sum += counters[i];
      if (stamps[i] < oldest) oldest = stamps[i];
    }
  }
  // A stamp from the future (a reader behind a writer) counts as this second.
  const uint64_t span = now >= oldest ? uint64_t{now} - oldest + 1 : 1;
  return static_cast<uint32_t>(sum / span);
}

}  // namespace net
