#include "net/testing/download_runner_win.h"

#include "net/download_to_file.h"

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
  HANDLE canceller =
      cancelAfterMs ? CreateThread(nullptr, 0, CancelLater, &cancel, 0, nullptr) : nullptr;
  const DWORD start = GetTickCount();
  outcome.result = DownLoadUrlToFile(control, url, path, timeoutSeconds, 0, resume, &outcome.progress);
  outcome.elapsedMs = GetTickCount() - start;
  if (canceller != nullptr) {
    WaitForSingleObject(canceller, INFINITE);
    CloseHandle(canceller);
  }
  static wchar_t text[TraceBuffer::kTraceCapacity + 1];
  if (GetDownloadTrace(control, text, TraceBuffer::kTraceCapacity + 1)) outcome.trace = text;
  const DWORD beforeDestroy = GetTickCount();
  DestroyDownloadControl(control);
  outcome.destroyMs = GetTickCount() - beforeDestroy;
  return outcome;
}
