#include "net/content_range.h"

namespace net {

namespace {

class Cursor {
 public:
  Cursor(const wchar_t* text, std::size_t length) : text_(text), end_(text + length) {}

  bool AtEnd() const { return text_ == end_; }
  bool TakeDigitsAny() {
    const wchar_t* start = text_;
    while (text_ != end_ && *text_ >= L'0' && *text_ <= L'9') ++text_;
    return text_ != start;
  }
  void SkipSpaces() {
    while (text_ != end_ && (*text_ == L' ' || *text_ == L'\t')) ++text_;
  }
  bool Take(wchar_t c) {
    if (text_ == end_ || *text_ != c) return false;
    ++text_;
    return true;
  }
  bool TakeWordNoCase(const char* word) {
    const wchar_t* p = text_;
    for (; *word; ++word, ++p) {
      if (p == end_) return false;
      wchar_t c = *p;
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
      if (c != static_cast<wchar_t>(*word)) return false;
    }
    text_ = p;
    return true;
  }
  // One or more decimal digits that fit 32 bits.
  bool TakeNumber(uint32_t* value) {
    uint64_t n = 0;
    if (!TakeWide(&n) || n > 0xFFFFFFFFull) return false;
    *value = static_cast<uint32_t>(n);
    return true;
  }
  // One or more decimal digits that fit 63 bits.
  bool TakeWide(uint64_t* value) {
    uint64_t n = 0;
    const wchar_t* start = text_;
    while (text_ != end_ && *text_ >= L'0' && *text_ <= L'9') {
      n = n * 10 + static_cast<uint64_t>(*text_ - L'0');
      if (n > (1ull << 62)) return false;
      ++text_;
    }
    if (text_ == start) return false;
    *value = n;
    return true;
  }

 private:
  const wchar_t* text_;
  const wchar_t* end_;
};

}  // namespace

bool ParseContentRange(const wchar_t* text, std::size_t length, ContentRange* out) {
  if (!text) return false;
  Cursor cursor(text, length);
  ContentRange range{};
  cursor.SkipSpaces();
  if (!cursor.TakeWordNoCase("bytes")) return false;
  cursor.SkipSpaces();
  if (!cursor.TakeNumber(&range.first) || !cursor.Take(L'-') || !cursor.TakeNumber(&range.last) ||
      !cursor.Take(L'/') || !cursor.TakeNumber(&range.total)) {
    return false;
  }
  cursor.SkipSpaces();
  if (!cursor.AtEnd()) return false;
  if (range.first > range.last || range.last >= range.total) return false;
  *out = range;
  return true;
}

bool ContentRangeTooLarge(const wchar_t* text, std::size_t length) {
  if (!text) return false;
  Cursor cursor(text, length);
  uint64_t first = 0, last = 0, total = 0;
  cursor.SkipSpaces();
  if (!cursor.TakeWordNoCase("bytes")) return false;
  cursor.SkipSpaces();
  if (!cursor.TakeWide(&first) || !cursor.Take(L'-') || !cursor.TakeWide(&last) ||
      !cursor.Take(L'/') || !cursor.TakeWide(&total)) {
    return false;
  }
  cursor.SkipSpaces();
  return cursor.AtEnd() && first <= last && last < total && total > 0xFFFFFFFFull;
}

LengthParse ParseContentLength(const wchar_t* text, std::size_t length, uint32_t* out) {
  if (!text) return LengthParse::kMalformed;
  Cursor cursor(text, length);
  uint64_t value = 0;
  cursor.SkipSpaces();
  const bool digits = cursor.TakeWide(&value);
  if (!digits) {
    // Digits beyond 63 bits are still a number, only far too large.
    Cursor again(text, length);
    again.SkipSpaces();
    if (again.TakeDigitsAny()) {
      again.SkipSpaces();
      if (again.AtEnd()) return LengthParse::kTooLarge;
    }
    return LengthParse::kMalformed;
  }
  cursor.SkipSpaces();
  if (!cursor.AtEnd()) return LengthParse::kMalformed;
  if (value >= 0xFFFFFFFFull) return LengthParse::kTooLarge;
  *out = static_cast<uint32_t>(value);
  return LengthParse::kOk;
}

bool IsHttpStatusHead(const std::wstring& head) {
  const std::size_t lineEnd = head.find(L"\r\n");
  const std::wstring status = head.substr(0, lineEnd);
  if (status.size() < 12 || status.compare(0, 7, L"HTTP/1.") != 0 ||
      (status[7] != L'0' && status[7] != L'1') || status[8] != L' ') {
    return false;
  }
  for (std::size_t i = 9; i < 12; ++i) {
    if (status[i] < L'0' || status[i] > L'9') return false;
  }
  if (status.size() > 12 && status[12] != L' ') return false;
  if (lineEnd == std::wstring::npos) return false;
  const std::size_t next = lineEnd + 2;
  const std::size_t nextEnd = head.find(L"\r\n", next);
  const std::wstring header = head.substr(next, nextEnd == std::wstring::npos ? std::wstring::npos
                                                                             : nextEnd - next);
  const std::size_t colon = header.find(L':');
  return colon != std::wstring::npos && colon > 0;
}

}  // namespace net
