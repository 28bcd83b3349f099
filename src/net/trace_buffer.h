#pragma once

#include <atomic>
#include <cstddef>
#include <string>

// The trace text a download leaves in its control block: written by the
// download task, read by the caller, both under one spin flag. A text longer
// than kTraceCapacity is refused and the previous text stays; once closed,
// nothing is stored any more.
class TraceBuffer {
 public:
  static constexpr std::size_t kTraceCapacity = 10240;

  // True when the text was stored.
  bool Store(const std::wstring& text);
  // Copies the text, cut to capacity - 1 characters and terminated.
  // False when the buffer is closed or capacity is 0.
  bool Copy(wchar_t* buffer, std::size_t capacity) const;
  std::wstring Text() const;
  void Close();
  bool closed() const { return closed_.load(); }

 private:
  // An interlocked increment to 1 wins; a loser undoes its increment, sleeps
  // 1 ms and tries again.
  void Lock() const;
  void Unlock() const;

  mutable std::atomic<int> lock_{0};
  std::atomic<bool> closed_{false};
  std::size_t length_ = 0;
  wchar_t text_[kTraceCapacity + 1] = {};
};
