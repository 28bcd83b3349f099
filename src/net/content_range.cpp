#include "net/content_range.h"

namespace net {

namespace {

class Cursor {
 public:
  Cursor(const wchar_t* text, std::size_t length) : text_(text), end_(text + length) {}

  bool AtEnd() const { return text_ == end_; }
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
    const wchar_t* start = text_;
    while (text_ != end_ && *text_ >= L'0' && *text_ <= L'9') {
      n = n * 10 + static_cast<uint64_t>(*text_ - L'0');
      if (n > 0xFFFFFFFFull) return false;
      ++text_;
    }
    if (text_ == start) return false;
    *value = static_cast<uint32_t>(n);
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

}  // namespace net
