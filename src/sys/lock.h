#pragma once

#include <condition_variable>
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
  friend class Condition;
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

// A condition to wait for under a held Lock (the waiting thread holds it
// through an AutoLock; it is released while waiting and held again after).
class Condition {
 public:
  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Waits until ready() holds or the deadline passes; ready()'s last answer.
  template <typename Clock, typename Duration, typename Ready>
  bool WaitUntil(Lock& held, const std::chrono::time_point<Clock, Duration>& deadline, Ready ready) {
    std::unique_lock<std::mutex> lock(held.mutex_, std::adopt_lock);
    const bool result = condition_.wait_until(lock, deadline, ready);
    lock.release();  // the caller's AutoLock still owns the lock
    return result;
  }
  void NotifyAll() { condition_.notify_all(); }

 private:
  std::condition_variable condition_;
};
