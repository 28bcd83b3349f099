#include "net/trace_buffer.h"

#include <chrono>
#include <cstring>
#include <thread>

void TraceBuffer::Lock() const {
  while (lock_.fetch_add(1) + 1 != 1) {
    lock_.fetch_sub(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TraceBuffer::Unlock() const { lock_.fetch_sub(1); }

bool TraceBuffer::Store(const std::wstring& text) {
  if (closed_.load() || text.size() > kTraceCapacity) return false;
  Lock();
  std::memcpy(text_, text.data(), text.size() * sizeof(wchar_t));
  text_[text.size()] = L'\0';
  length_ = text.size();
  Unlock();
  return true;
}

bool TraceBuffer::Copy(wchar_t* buffer, std::size_t capacity) const {
  if (closed_.load() || buffer == nullptr || capacity == 0) return false;
  Lock();
  const std::size_t n = length_ < capacity - 1 ? length_ : capacity - 1;
  std::memcpy(buffer, text_, n * sizeof(wchar_t));
  buffer[n] = L'\0';
  Unlock();
  return true;
}

std::wstring TraceBuffer::Text() const {
  Lock();
  std::wstring text(text_, length_);
  Unlock();
  return text;
}

void TraceBuffer::Close() {
  Lock();
  closed_.store(true);
  length_ = 0;
  text_[0] = L'\0';
  Unlock();
}
