#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// One download as the installer runs it, on the calling thread, optionally
// cancelled from another thread after a delay.
struct DownloadOutcome {
  int result = -1;
  int progress = 0;
  std::wstring trace;
  DWORD elapsedMs = 0;
  DWORD destroyMs = 0;  // how long DestroyDownloadControl took
};

// cancelAfterMs 0 never cancels.
DownloadOutcome RunDownload(const std::wstring& url, const std::wstring& path,
                            std::uint32_t timeoutSeconds, int resume = 0, DWORD cancelAfterMs = 0);
