#include "app/install_mode.h"

bool IsVersionWellFormed(const std::wstring& version) {
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t end = version.find(L'.', start);
    if (part < 3 && end == std::wstring::npos) return false;
    if (part == 3) {
      if (end != std::wstring::npos) return false;
      end = version.size();
    }
    if (end == start) return false;
    for (std::size_t i = start; i < end; ++i) {
      if (version[i] < L'0' || version[i] > L'9') return false;
    }
    start = end + 1;
  }
  return true;
}
