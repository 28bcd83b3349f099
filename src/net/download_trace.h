#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/trace_buffer.h"

// The compact event trace of one download. Every entry is "%u:%s": whole
// seconds since the download started, a colon and a body (a key, optionally
// followed by the task state and one to three numbers). After each entry the
// joined text is stored in the caller's TraceBuffer.
class DownloadTrace {
 public:
  // Entries are cut to this many characters (the entry buffer is one wider).
  static constexpr std::size_t kMaxEntryLength = 259;
  // Idle entries collapse while they follow each other within this window.
  static constexpr std::uint32_t kDedupWindowSeconds = 20;
  static constexpr std::uint32_t kIdleDedupKey = 101;

  // elapsedSeconds tells the whole seconds since the download started.
  DownloadTrace(TraceBuffer* target, std::function<std::uint32_t()> elapsedSeconds);

  // Key only; also used for keys ending in ':' with their text appended.
  void Record(int state, const std::wstring& key);
  void Record(int state, const std::wstring& key, std::uint32_t v1);
  void Record(int state, const std::wstring& key, std::uint32_t v1, std::uint32_t v2);
  void Record(int state, const std::wstring& key, std::uint32_t v1, std::uint32_t v2,
              std::uint32_t v3);
  // The idle entry "did" with speed, active connections and written bytes,
  // collapsed with the idle entry before it inside the dedup window.
  void RecordIdle(int state, std::uint32_t speed, std::uint32_t active, std::uint32_t written);

  // The join of the kept entries, each followed by ';'.
  std::wstring Join() const;

 private:
  struct Entry {
    std::wstring text;
    int state;
    std::uint32_t elapsed;
    std::uint32_t dedupKey;
  };

  void Append(int state, const std::wstring& body, std::uint32_t dedupKey);

  TraceBuffer* target_;
  std::function<std::uint32_t()> elapsedSeconds_;
  std::vector<Entry> entries_;
};
