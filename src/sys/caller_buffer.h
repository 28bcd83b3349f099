#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The caller-buffer protocol of the identity queries (machine identifier,
// software fingerprint).
constexpr int kCallerBufferCopied = 0;
constexpr int kCallerBufferTooSmall = 1;
// What a refused call asks for beyond the text's length: room for the
// terminator and for a value that grows before the second call.
constexpr std::uint32_t kCallerBufferSurplus = 1025;

// When buffer is non-null and text is shorter than *size characters, fills
// all *size characters with zeros, copies text in and returns 0. Otherwise
// sets *size to the text's length + 1025 and returns 1 (a null size is
// refused with 1 and nothing written).
int CopyToCallerBuffer(const std::wstring& text, wchar_t* buffer, std::uint32_t* size);

// The caller's side: asks query with a buffer of firstSize characters, then,
// when refused, once more with the size it asked for. The text, or empty when
// the query refused both times.
std::wstring ReadThroughCallerBuffer(const std::function<int(wchar_t*, std::uint32_t*)>& query,
                                     std::uint32_t firstSize);
