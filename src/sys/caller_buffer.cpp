#include "sys/caller_buffer.h"

#include <algorithm>
#include <vector>

int CopyToCallerBuffer(const std::wstring& text, wchar_t* buffer, std::uint32_t* size) {
  if (size == nullptr) return kCallerBufferTooSmall;
  if (buffer == nullptr || *size == 0 || text.size() >= *size) {
    *size = static_cast<std::uint32_t>(text.size()) + kCallerBufferSurplus;
    return kCallerBufferTooSmall;
  }
  std::fill(buffer, buffer + *size, L'\0');
  std::copy(text.begin(), text.end(), buffer);
  return kCallerBufferCopied;
}

std::wstring ReadThroughCallerBuffer(const std::function<int(wchar_t*, std::uint32_t*)>& query,
                                     std::uint32_t firstSize) {
  std::uint32_t size = firstSize;
  std::vector<wchar_t> buffer(size, L'\0');
  int result = query(size != 0 ? buffer.data() : nullptr, &size);
  if (result != kCallerBufferCopied && size != 0) {
    // A value that grew past the surplus in between is given up.
    buffer.assign(size, L'\0');
    result = query(buffer.data(), &size);
  }
  if (result != kCallerBufferCopied) return std::wstring();
  return std::wstring(buffer.begin(), std::find(buffer.begin(), buffer.end(), L'\0'));
}
