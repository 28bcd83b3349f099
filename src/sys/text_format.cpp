#include "sys/text_format.h"

#include <cstdio>
#include <cwchar>

namespace {

// Terminates a buffer after a formatting call that returned written: the
// system's _vsnwprintf and _vsnprintf leave a text that fills the buffer
// exactly, or one cut short (-1), without a terminator.
template <typename Char>
int Terminate(Char* buffer, std::size_t count, int written) {
  if (written < 0 || static_cast<std::size_t>(written) >= count) {
    buffer[count - 1] = 0;
    return -1;
  }
  return written;
}

}  // namespace

int FormatWideList(wchar_t* buffer, std::size_t count, const wchar_t* format, std::va_list args) {
  if (count == 0) return -1;
#ifdef _WIN32
  return Terminate(buffer, count, _vsnwprintf(buffer, count, format, args));
#else
  return Terminate(buffer, count, std::vswprintf(buffer, count, format, args));
#endif
}

int FormatWide(wchar_t* buffer, std::size_t count, const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = FormatWideList(buffer, count, format, args);
  va_end(args);
  return written;
}

int FormatNarrow(char* buffer, std::size_t count, const char* format, ...) {
  if (count == 0) return -1;
  std::va_list args;
  va_start(args, format);
#ifdef _WIN32
  const int written = _vsnprintf(buffer, count, format, args);
#else
  const int written = std::vsnprintf(buffer, count, format, args);
#endif
  va_end(args);
  return Terminate(buffer, count, written);
}
