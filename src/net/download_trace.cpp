#include "net/download_trace.h"
#include "sys/text_format.h"

#include <utility>

namespace {

std::wstring Numbers(const std::wstring& key, int state, std::initializer_list<std::uint32_t> values) {
  std::wstring body = key + DecimalText(state) + L":";
  bool first = true;
  for (std::uint32_t value : values) {
    if (!first) body += L",";
    body += DecimalText(value);
    first = false;
  }
  return body;
}

}  // namespace

DownloadTrace::DownloadTrace(TraceBuffer* target, std::function<std::uint32_t()> elapsedSeconds)
    : target_(target), elapsedSeconds_(std::move(elapsedSeconds)) {}

void DownloadTrace::Record(int, const std::wstring& key) { Append(key, 0); }

void DownloadTrace::Record(int state, const std::wstring& key, std::uint32_t v1) {
  Append(Numbers(key, state, {v1}), 0);
}

void DownloadTrace::Record(int state, const std::wstring& key, std::uint32_t v1, std::uint32_t v2) {
  Append(Numbers(key, state, {v1, v2}), 0);
}

void DownloadTrace::Record(int state, const std::wstring& key, std::uint32_t v1, std::uint32_t v2,
                           std::uint32_t v3) {
  Append(Numbers(key, state, {v1, v2, v3}), 0);
}

void DownloadTrace::RecordIdle(int state, std::uint32_t speed, std::uint32_t active,
                               std::uint32_t written) {
  Append(Numbers(L"did", state, {speed, active, written}), kIdleDedupKey);
}

void DownloadTrace::Append(const std::wstring& body, std::uint32_t dedupKey) {
  const std::uint32_t elapsed = elapsedSeconds_ ? elapsedSeconds_() : 0;
  // An idle entry close after the last shown one is not shown.
  if (anyShown_ && dedupKey != 0 && dedupKey == lastKey_ &&
      elapsed < lastElapsed_ + kDedupWindowSeconds) {
    return;
  }
  anyShown_ = true;
  lastKey_ = dedupKey;
  lastElapsed_ = elapsed;
  std::wstring text = DecimalText(elapsed) + L":" + body;
  // URLs and addresses can be longer than an entry; cut them, never overrun.
  if (text.size() > kMaxEntryLength) text.resize(kMaxEntryLength);
  text += L';';
  if (!headFull_ && head_.size() + text.size() <= kHeadChars) {
    head_ += text;
    if (target_ != nullptr) target_->Append(text);
    return;
  }
  headFull_ = true;
  tailChars_ += text.size();
  tail_.push_back(Entry{text, elapsed});
  if (tailChars_ <= kTailChars) {
    if (target_ != nullptr) target_->Append(text);
    return;
  }
  CutTail();
}

void DownloadTrace::CutTail() {
  while (tail_.size() > 1 && tailChars_ > kTailChars / 4 * 3) {
    if (cutCount_ == 0) cutElapsed_ = tail_.front().elapsed;
    ++cutCount_;
    tailChars_ -= tail_.front().text.size();
    tail_.pop_front();
  }
  if (target_ != nullptr) target_->Store(Join());
}

std::wstring DownloadTrace::CutEntry() const {
  return DecimalText(cutElapsed_) + L":" + Numbers(L"tcut", 0, {cutCount_}) + L";";
}

std::wstring DownloadTrace::Join() const {
  std::wstring joined = head_;
  if (cutCount_ != 0) joined += CutEntry();
  for (const Entry& entry : tail_) joined += entry.text;
  return joined;
}
