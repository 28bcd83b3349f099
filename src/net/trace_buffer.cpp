#include "net/trace_buffer.h"

#include <cstring>

bool TraceBuffer::Store(const std::wstring& text) {
  if (text.size() > kTraceCapacity) return false;
  AutoLock hold(lock_);
  if (closed_) return false;
  std::memcpy(text_, text.data(), text.size() * sizeof(wchar_t));
  text_[text.size()] = L'\0';
  length_ = text.size();
  return true;
}

bool TraceBuffer::Append(const std::wstring& piece) {
  AutoLock hold(lock_);
  if (closed_ || piece.size() > kTraceCapacity - length_) return false;
  std::memcpy(text_ + length_, piece.data(), piece.size() * sizeof(wchar_t));
  length_ += piece.size();
  text_[length_] = L'\0';
  return true;
}

bool TraceBuffer::Copy(wchar_t* buffer, std::size_t capacity) const {
  if (buffer == nullptr || capacity == 0) return false;
  AutoLock hold(lock_);
  if (closed_) return false;
  const std::size_t n = length_ < capacity - 1 ? length_ : capacity - 1;
  std::memcpy(buffer, text_, n * sizeof(wchar_t));
  buffer[n] = L'\0';
  return true;
}

std::wstring TraceBuffer::Text() const {
  AutoLock hold(lock_);
  return std::wstring(text_, length_);
}

void TraceBuffer::Close() {
  AutoLock hold(lock_);
  closed_ = true;
  length_ = 0;
  text_[0] = L'\0';
}

bool TraceBuffer::closed() const {
  AutoLock hold(lock_);
  return closed_;
}
