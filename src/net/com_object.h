#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace net {

// E_NOTIMPL: none of these objects hands out other interfaces.
constexpr long kENotImpl = static_cast<long>(0x80004001);

// Slots 0 to 2 of every reference-counted object of the network layer.
class IUnknown {
 public:
  virtual long QueryInterface(const void* iid, void** object) = 0;
  virtual unsigned long AddRef() = 0;
  virtual unsigned long Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Second base of every implementation class: holds the reference count.
class CMyCComObjectRoot {
 protected:
  CMyCComObjectRoot() = default;
  ~CMyCComObjectRoot() = default;
  CMyCComObjectRoot(const CMyCComObjectRoot&) = delete;
  CMyCComObjectRoot& operator=(const CMyCComObjectRoot&) = delete;

  std::atomic<uint32_t> refCount_{0};
};

// The most-derived class of every object. Objects start with a count of 0;
// the creator takes the first reference. The last Release deletes it.
template <class T>
class CMyComObject final : public T {
 public:
  // Marks a destroyed object so that a late AddRef/Release on a dangling
  // pointer is recognisable in a crash dump.
  static constexpr uint32_t kDestroyedCount = 0xC0000001u;

  template <class... Args>
  explicit CMyComObject(Args&&... args) : T(std::forward<Args>(args)...) {}
  ~CMyComObject() { this->refCount_.store(kDestroyedCount); }

  long QueryInterface(const void* /*iid*/, void** object) override {
    if (object) *object = nullptr;
    return kENotImpl;
  }
  unsigned long AddRef() override { return this->refCount_.fetch_add(1) + 1; }
  unsigned long Release() override {
    const uint32_t left = this->refCount_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }
};

// Holds one reference for the lifetime of a scope (like scoped_refptr).
template <class T>
class ScopedRef {
 public:
  ScopedRef() = default;
  explicit ScopedRef(T* object) : object_(object) {
    if (object_) object_->AddRef();
  }
  ScopedRef(const ScopedRef& other) : ScopedRef(other.object_) {}
  ScopedRef& operator=(const ScopedRef& other) {
    ScopedRef copy(other);
    std::swap(object_, copy.object_);
    return *this;
  }
  ~ScopedRef() { reset(); }

  // Takes over a reference the caller already owns.
  static ScopedRef Adopt(T* object) {
    ScopedRef ref;
    ref.object_ = object;
    return ref;
  }

  void reset() {
    if (object_) object_->Release();
    object_ = nullptr;
  }
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace net
