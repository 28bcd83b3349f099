#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <type_traits>

// printf-style formatting into a caller's buffer, in the part of the format
// language that every Windows C runtime reads alike: %d %u %lu %x %X with
// flags and widths, %ls (wide) and %hs (narrow) strings, %p, %f and %%.
// On Windows this is the system's C runtime (msvcrt), so the installer
// carries no printf of its own (MinGW's C99 family is about 25 KB).
// The text is always terminated; the result is the count of characters
// written, or -1 when the text did not fit (the buffer then holds its start).
int FormatWide(wchar_t* buffer, std::size_t count, const wchar_t* format, ...);
int FormatWideList(wchar_t* buffer, std::size_t count, const wchar_t* format, std::va_list args);
int FormatNarrow(char* buffer, std::size_t count, const char* format, ...);

// The decimal text of an integer, as std::to_wstring gives it; std::to_wstring
// itself formats through the C99 printf family.
template <typename Integer>
std::wstring DecimalText(Integer value) {
  static_assert(std::is_integral<Integer>::value, "DecimalText takes integers");
  const std::string narrow = std::to_string(value);
  return std::wstring(narrow.begin(), narrow.end());
}
