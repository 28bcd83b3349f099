#pragma once

#include <windows.h>

namespace net {

// Owns one kernel handle (event, thread, file, mapping).
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = nullptr;
};

// A critical section with its spin count, and a scoped lock on it.
class CriticalSection {
 public:
  explicit CriticalSection(DWORD spinCount = 4000) {
    InitializeCriticalSectionAndSpinCount(&section_, spinCount);
  }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Lock() { EnterCriticalSection(&section_); }
  void Unlock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class AutoLock {
 public:
  explicit AutoLock(CriticalSection& section) : section_(section) { section_.Lock(); }
  ~AutoLock() { section_.Unlock(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace net
