#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "net/trace_buffer.h"

// The compact event trace of one download. Every entry is "%u:%s": whole
// seconds since the download started, a colon and a body (a key, optionally
// followed by the task state and one to three numbers). Each shown entry is
// added to the caller's TraceBuffer, followed by ';'.
//
// The text is bounded by the buffer's capacity. A download that records
// more keeps its first kHeadChars characters of entries and as many of the
// newest as fit; the entries left out between them are counted in one
// "tcut" entry (the elapsed seconds of the first one left out, state 0 and
// their number). The last entry recorded is always in the text, so a
// troubled download's end ("dse") always reaches the statistics. Appending
// costs the entry's length, with a rebuild of the text once per quarter of
// the newest entries' share.
class DownloadTrace {
 public:
  // Entries are cut to this many characters (the entry buffer is one wider).
  static constexpr std::size_t kMaxEntryLength = 259;
  // Idle entries collapse while they follow each other within this window.
  static constexpr std::uint32_t kDedupWindowSeconds = 20;
  static constexpr std::uint32_t kIdleDedupKey = 101;
  // The start of a download, kept whatever follows.
  static constexpr std::size_t kHeadChars = 4096;
  // Room kept for the "tcut" entry.
  static constexpr std::size_t kCutEntryChars = 40;
  static constexpr std::size_t kTailChars =
      TraceBuffer::kTraceCapacity - kHeadChars - kCutEntryChars;

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

  // The text: the shown entries, each followed by ';'.
  std::wstring Join() const;

 private:
  struct Entry {
    std::wstring text;  // with its ';'
    std::uint32_t elapsed;
  };

  void Append(const std::wstring& body, std::uint32_t dedupKey);
  // Drops the oldest of the newest entries until they take at most three
  // quarters of kTailChars, then stores the whole text again.
  void CutTail();
  std::wstring CutEntry() const;

  TraceBuffer* target_;
  std::function<std::uint32_t()> elapsedSeconds_;
  // The last shown entry, for the idle collapse.
  bool anyShown_ = false;
  std::uint32_t lastKey_ = 0;
  std::uint32_t lastElapsed_ = 0;
  std::wstring head_;
  bool headFull_ = false;
  std::deque<Entry> tail_;
  std::size_t tailChars_ = 0;
  std::uint32_t cutCount_ = 0;
  std::uint32_t cutElapsed_ = 0;
};
