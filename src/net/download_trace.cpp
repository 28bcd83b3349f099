#include "net/download_trace.h"

#include <utility>

namespace {

std::wstring Numbers(const std::wstring& key, int state, std::initializer_list<std::uint32_t> values) {
  std::wstring body = key + std::to_wstring(state) + L":";
  bool first = true;
  for (std::uint32_t value : values) {
    if (!first) body += L",";
    body += std::to_wstring(value);
    first = false;
  }
  return body;
}

}  // namespace

DownloadTrace::DownloadTrace(TraceBuffer* target, std::function<std::uint32_t()> elapsedSeconds)
    : target_(target), elapsedSeconds_(std::move(elapsedSeconds)) {}

void DownloadTrace::Record(int state, const std::wstring& key) { Append(state, key, 0); }

void DownloadTrace::Record(int state, const std::wstring& key, std::uint32_t v1) {
  Append(state, Numbers(key, state, {v1}), 0);
}

void DownloadTrace::Record(int state, const std::wstring& key, std::uint32_t v1, std::uint32_t v2) {
  Append(state, Numbers(key, state, {v1, v2}), 0);
}

void DownloadTrace::Record(int state, const std::wstring& key, std::uint32_t v1, std::uint32_t v2,
                           std::uint32_t v3) {
  Append(state, Numbers(key, state, {v1, v2, v3}), 0);
}

void DownloadTrace::RecordIdle(int state, std::uint32_t speed, std::uint32_t active,
                               std::uint32_t written) {
  Append(state, Numbers(L"did", state, {speed, active, written}), kIdleDedupKey);
}

void DownloadTrace::Append(int state, const std::wstring& body, std::uint32_t dedupKey) {
  const std::uint32_t elapsed = elapsedSeconds_ ? elapsedSeconds_() : 0;
  std::wstring text = std::to_wstring(elapsed) + L":" + body;
  // URLs and addresses can be longer than an entry; cut them, never overrun.
  if (text.size() > kMaxEntryLength) text.resize(kMaxEntryLength);
  entries_.push_back(Entry{std::move(text), state, elapsed, dedupKey});
  if (target_ != nullptr) target_->Store(Join());
}

std::wstring DownloadTrace::Join() const {
  std::wstring joined;
  const Entry* lastKept = nullptr;
  for (const Entry& entry : entries_) {
    if (lastKept != nullptr && entry.dedupKey != 0 && entry.dedupKey == lastKept->dedupKey &&
        entry.elapsed < lastKept->elapsed + kDedupWindowSeconds) {
      continue;
    }
    joined += entry.text;
    joined += L';';
    lastKept = &entry;
  }
  return joined;
}
