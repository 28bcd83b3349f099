#include "sys/diag.h"
#include "sys/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

void AppendUtf8(std::string* out, const wchar_t* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    unsigned long c = static_cast<unsigned long>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
      const unsigned long low = static_cast<unsigned long>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (c >> 12)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

}  // namespace

void DiagInit() {
#ifdef _WIN32
  _setmode(_fileno(stderr), _O_BINARY);
#endif
}

void DiagPrintf(const wchar_t* format, ...) {
  // Lines carry URLs and download traces (up to 10,240 characters); grow the
  // buffer until the line fits rather than cutting it.
  std::vector<wchar_t> buffer(1024);
  int written = -1;
  for (int tries = 0; tries < 8; ++tries) {
    va_list args;
    va_start(args, format);
    written = FormatWideList(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (written >= 0 && static_cast<std::size_t>(written) < buffer.size()) break;
    buffer.resize(buffer.size() * 4);
    written = -1;
  }
  if (written < 0) return;
  std::string line;
  AppendUtf8(&line, buffer.data(), static_cast<std::size_t>(written));
#ifdef _WIN32
  // One write for the whole line. The C runtime writes an unbuffered stderr
  // byte by byte, each byte a system call (under Wine also a console-mode
  // query) with the stream locked meanwhile: threads tracing at once waited
  // on each other's lines.
  _write(_fileno(stderr), line.data(), static_cast<unsigned>(line.size()));
#else
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
#endif
}
