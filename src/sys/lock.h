#pragma once

#include <mutex>

// The one lock type of the program, and its scoped guard. Plain std::mutex
// underneath, so the thread sanitizer of the host build understands it and
// the Windows build (posix threads) gets the same behaviour.
class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire() { mutex_.lock(); }
  void Release() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a Lock for the life of a scope.
class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~AutoLock() { lock_.Release(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  Lock& lock_;
};
