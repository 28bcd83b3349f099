// Downloads one URL with the download call and prints what a benchmark
// script needs on one line: "result=%d ms=%lu bytes=%lu".
//   download_bench <url> <file> [--resume] [--cancel-at PERCENT] [--restamp]
// --cancel-at cancels once the progress reaches PERCENT; --restamp first
// re-stamps the resume record with the data file's creation time (Wine does
// not keep creation times, so a record would never match otherwise).
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "net/download_to_file.h"
#include "net/testing/download_runner_win.h"

namespace {

struct Watch {
  DownloadControl* control;
  volatile int* progress;
  int cancelAt;
};

DWORD WINAPI CancelAtPercent(void* parameter) {
  Watch* watch = static_cast<Watch*>(parameter);
  while (*watch->progress < watch->cancelAt) Sleep(20);
  if (*watch->progress < 100) CancelDownload(watch->control);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: download_bench <url> <file> [--resume] [--cancel-at N] [--restamp]\n");
    return 2;
  }
  int resume = 0;
  int cancelAt = 0;
  for (int i = 3; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--resume") == 0) resume = 1;
    if (std::wcscmp(argv[i], L"--restamp") == 0) RestampResumeRecord(argv[2]);
    if (std::wcscmp(argv[i], L"--cancel-at") == 0 && i + 1 < argc) cancelAt = _wtoi(argv[++i]);
  }
  DownloadControl* control = CreateDownloadControl();
  volatile int progress = 0;
  Watch watch = {control, &progress, cancelAt};
  ScopedHandle watcher(
      cancelAt > 0 ? CreateThread(nullptr, 0, CancelAtPercent, &watch, 0, nullptr) : nullptr);
  // WinINet is loaded before the clock starts, as in the installer, whose
  // configuration download loads it long before the package's; the single
  // request's program imports it statically, loaded before its clock too.
  // (Loading it on first use takes about 35 ms under Wine.)
  DWORD connections = 0;
  DWORD size = sizeof(connections);
  InternetQueryOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, &size);
  const DWORD start = GetTickCount();
  const int result =
      DownLoadUrlToFile(control, argv[1], argv[2], 3600, 0, resume, const_cast<int*>(&progress));
  const DWORD elapsed = GetTickCount() - start;
  if (watcher.IsValid()) WaitForSingleObject(watcher.Get(), INFINITE);
  DestroyDownloadControl(control);
  WIN32_FILE_ATTRIBUTE_DATA info = {};
  GetFileAttributesExW(argv[2], GetFileExInfoStandard, &info);
  std::printf("result=%d ms=%lu bytes=%lu\n", result, static_cast<unsigned long>(elapsed),
              static_cast<unsigned long>(info.nFileSizeLow));
  return 0;
}
