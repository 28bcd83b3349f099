#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

struct ContentRange {
  uint32_t first;
  uint32_t last;
  uint32_t total;
};

// Parses a Content-Range value "bytes first-last/total" ("bytes" in any
// case). Fails on anything else: a missing part, "*", a number that does not
// fit 32 bits, first > last, or last >= total. A failed parse leaves *out alone.
bool ParseContentRange(const wchar_t* text, std::size_t length, ContentRange* out);

// A well-formed "bytes first-last/total" whose numbers only fit 64 bits: a
// file this download cannot address, which must not pass for "no range".
bool ContentRangeTooLarge(const wchar_t* text, std::size_t length);

// Outcome of reading a Content-Length value.
enum class LengthParse { kOk, kMalformed, kTooLarge };
// Decimal digits with optional surrounding blanks; kTooLarge when the number
// does not fit 32 bits (0xFFFFFFFF is kept as "no length" and counts as too
// large as well).
LengthParse ParseContentLength(const wchar_t* text, std::size_t length, uint32_t* out);

// The raw response head (lines ending in CRLF) starts with an HTTP/1.0 or
// HTTP/1.1 status line with a three-digit code and holds at least one
// "Name: value" header after it.
bool IsHttpStatusHead(const std::wstring& head);

}  // namespace net
