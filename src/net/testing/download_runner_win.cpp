#include "net/testing/download_runner_win.h"

#include "net/download_to_file.h"
#include "sys/scoped_handle_win.h"

namespace {

struct CancelAfter {
  DownloadControl* control;
  DWORD delayMs;
};

DWORD WINAPI CancelLater(void* parameter) {
  CancelAfter* cancel = static_cast<CancelAfter*>(parameter);
  Sleep(cancel->delayMs);
  CancelDownload(cancel->control);
  return 0;
}

}  // namespace

DownloadOutcome RunDownload(const std::wstring& url, const std::wstring& path,
                            std::uint32_t timeoutSeconds, int resume, DWORD cancelAfterMs) {
  DownloadOutcome outcome;
  DownloadControl* control = CreateDownloadControl();
  CancelAfter cancel = {control, cancelAfterMs};
  ScopedHandle canceller(
      cancelAfterMs ? CreateThread(nullptr, 0, CancelLater, &cancel, 0, nullptr) : nullptr);
  const DWORD start = GetTickCount();
  outcome.result = DownLoadUrlToFile(control, url, path, timeoutSeconds, 0, resume, &outcome.progress);
  outcome.elapsedMs = GetTickCount() - start;
  if (canceller.IsValid()) WaitForSingleObject(canceller.Get(), INFINITE);
  static wchar_t text[TraceBuffer::kTraceCapacity + 1];
  if (GetDownloadTrace(control, text, TraceBuffer::kTraceCapacity + 1)) outcome.trace = text;
  const DWORD beforeDestroy = GetTickCount();
  DestroyDownloadControl(control);
  outcome.destroyMs = GetTickCount() - beforeDestroy;
  return outcome;
}

bool RestampResumeRecord(const std::wstring& path) {
  FILETIME created = {};
  {
    ScopedHandle data(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!data.IsValid() || !GetFileTime(data.Get(), &created, nullptr, nullptr)) return false;
  }
  ScopedHandle record(CreateFileW((path + L".resume").c_str(), GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!record.IsValid()) return false;
  const DWORD words[2] = {created.dwLowDateTime, created.dwHighDateTime};
  DWORD written = 0;
  return SetFilePointer(record.Get(), 3092, nullptr, FILE_BEGIN) == 3092 &&
         WriteFile(record.Get(), words, sizeof(words), &written, nullptr) &&
         written == sizeof(words);
}
