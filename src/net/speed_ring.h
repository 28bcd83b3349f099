#pragma once

#include <cstdint>

namespace net {

// Bytes received per second over the last 20 seconds: one slot per second
// that saw data. Written by network threads, read from state snapshots.
struct SpeedRing {
  static constexpr int kSlots = 20;

  int32_t index;  // advanced with an interlocked add
  uint32_t stamps[kSlots];   // monotonic second of each slot
  uint32_t counters[kSlots];  // bytes counted in that second

  void Add(uint32_t now, uint32_t bytes);
  // Bytes per second over the slots of the last 20 seconds.
  uint32_t Speed(uint32_t now) const;
};

}  // namespace net
