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

// Wine takes a file's creation time from its last status change, which every
// write moves, so a resume record never matches the data file it was written
// for. Windows keeps the creation time; this writes the time the data file
// reports now into its record (path + ".resume"), as Windows would have kept it.
bool RestampResumeRecord(const std::wstring& path);
