#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

// One owner for every kind of Win32 handle: the traits say what a null
// handle is and how one is closed, the template closes it exactly once.
template <class Traits>
class ScopedGenericHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedGenericHandle() = default;
  explicit ScopedGenericHandle(Handle handle) : handle_(handle) {}
  ~ScopedGenericHandle() { Close(); }
  ScopedGenericHandle(const ScopedGenericHandle&) = delete;
  ScopedGenericHandle& operator=(const ScopedGenericHandle&) = delete;
  ScopedGenericHandle(ScopedGenericHandle&& other) noexcept : handle_(other.Take()) {}
  ScopedGenericHandle& operator=(ScopedGenericHandle&& other) noexcept {
    Set(other.Take());
    return *this;
  }

  bool IsValid() const { return Traits::IsValid(handle_); }
  Handle Get() const { return handle_; }
  // Closes what is held and owns handle instead.
  void Set(Handle handle) {
    if (handle == handle_) return;
    Close();
    handle_ = handle;
  }
  // Gives up ownership without closing.
  Handle Take() {
    Handle handle = handle_;
    handle_ = Traits::Null();
    return handle;
  }
  // Closes the handle now; returns what the close call returned (true when
  // nothing was held).
  bool Close() {
    if (!IsValid()) {
      handle_ = Traits::Null();
      return true;
    }
    const bool closed = Traits::Close(handle_);
    handle_ = Traits::Null();
    return closed;
  }

 private:
  Handle handle_ = Traits::Null();
};

// Events, threads, mutexes, files, mappings: null and INVALID_HANDLE_VALUE
// both mean "none", since the creating calls differ in which they return.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Null() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(Handle h) { return ::CloseHandle(h) != FALSE; }
};

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Null() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static bool Close(Handle h) { return ::InternetCloseHandle(h) != FALSE; }
};

struct MappedViewTraits {
  using Handle = void*;
  static Handle Null() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static bool Close(Handle h) { return ::UnmapViewOfFile(h) != FALSE; }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Null() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(Handle h) { return ::FindClose(h) != FALSE; }
};

using ScopedHandle = ScopedGenericHandle<KernelHandleTraits>;
using ScopedInternetHandle = ScopedGenericHandle<InternetHandleTraits>;
using ScopedMappedView = ScopedGenericHandle<MappedViewTraits>;
using ScopedFindHandle = ScopedGenericHandle<FindHandleTraits>;
