#pragma once

#include <cstddef>
#include <string>

#include "sys/lock.h"

// The trace text a download leaves in its control block: written by the
// download task, read by the caller, both under one lock. It never holds
// more than kTraceCapacity characters; once closed, nothing is stored any
// more.
class TraceBuffer {
 public:
  static constexpr std::size_t kTraceCapacity = 10240;

  // Replaces the text; false (the text unchanged) when it is longer than
  // kTraceCapacity or the buffer is closed.
  bool Store(const std::wstring& text);
  // Adds piece at the end; false (the text unchanged) when the whole would
  // be longer than kTraceCapacity or the buffer is closed.
  bool Append(const std::wstring& piece);
  // Copies the text, cut to capacity - 1 characters and terminated.
  // False when the buffer is closed or capacity is 0.
  bool Copy(wchar_t* buffer, std::size_t capacity) const;
  std::wstring Text() const;
  void Close();
  bool closed() const;

 private:
  mutable Lock lock_;
  bool closed_ = false;
  std::size_t length_ = 0;
  wchar_t text_[kTraceCapacity + 1] = {};
};
