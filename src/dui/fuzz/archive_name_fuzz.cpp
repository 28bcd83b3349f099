// Feeds arbitrary archive entry names (bytes as UTF-16 units, and as plain
// bytes) to the name rules: a name that is accepted must stay inside the
// skin folder.
#include <cstdlib>
#include <string>

#include "dui/archive_name.h"

namespace {

void check(const std::wstring& stored) {
  const std::wstring path = dui::entry_path_inside_folder(stored);
  if (path.empty()) return;
  if (path[0] == L'\\' || path.find(L':') != std::wstring::npos ||
      path.find(L'/') != std::wstring::npos) {
    std::abort();
  }
  // No component may be "..", "." or empty.
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(L'\\', start);
    const std::wstring part = path.substr(start, end == std::wstring::npos ? end : end - start);
    if (part.empty() || part == L"." || part == L"..") std::abort();
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring wide;
  for (size_t i = 0; i + 1 < size; i += 2) wide.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  check(wide);
  check(std::wstring(data, data + size));
  uint32_t mtime;
  dui::unix_mtime_from_extra(data, size, &mtime);
  return 0;
}
