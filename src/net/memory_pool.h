#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "sys/lock.h"

namespace net {

// Keeps up to a given number of equal-sized allocations (made with
// ::operator new) for reuse: memory faulted in once is not faulted in
// again, which under Wine costs a page fault per page on first use.
class MemoryPool {
 public:
  explicit MemoryPool(std::size_t maxKept) : maxKept_(maxKept) {}
  MemoryPool(const MemoryPool&) = delete;
  MemoryPool& operator=(const MemoryPool&) = delete;

  // A kept allocation, or null when none is kept.
  void* Take() {
    AutoLock hold(lock_);
    if (free_.empty()) return nullptr;
    void* memory = free_.back();
    free_.pop_back();
    return memory;
  }
  // Returns whether the pool kept memory; the caller frees it otherwise.
  bool Give(void* memory) {
    AutoLock hold(lock_);
    if (free_.size() >= maxKept_) return false;
    free_.push_back(memory);
    return true;
  }
  // Frees everything kept.
  void Trim() {
    std::vector<void*> freed;
    {
      AutoLock hold(lock_);
      freed.swap(free_);
    }
    for (void* memory : freed) ::operator delete(memory);
  }

 private:
  const std::size_t maxKept_;
  Lock lock_;
  std::vector<void*> free_;
};

}  // namespace net
