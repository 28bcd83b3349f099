#include "net/download_control.h"

DownloadControl* CreateDownloadControl() {
  DownloadControl* control = new DownloadControl;
  control->doneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  control->trace.reset(new TraceBuffer);
  return control;
}

void CancelDownload(DownloadControl* control) {
  if (control == nullptr || control->closed) return;
  InterlockedExchange(&control->cancel, 1);
}

int IsDownloadCancelled(DownloadControl* control) {
  if (control == nullptr || control->closed) return 1;
  return control->cancel != 0 ? 1 : 0;
}

bool GetDownloadTrace(DownloadControl* control, wchar_t* buffer, std::size_t capacity) {
  if (control == nullptr || !control->trace) return false;
  return control->trace->Copy(buffer, capacity);
}

void DestroyDownloadControl(DownloadControl* control) {
  if (control == nullptr || control->closed) return;
  if (control->doneEvent != nullptr) {
    WaitForSingleObject(control->doneEvent, INFINITE);
    CloseHandle(control->doneEvent);
    control->doneEvent = nullptr;
  }
  control->trace->Close();
  InterlockedExchange(&control->closed, 1);
  control->trace.reset();
}

void MarkDownloadDone(DownloadControl* control) {
  if (control == nullptr) return;
  InterlockedExchange(&control->done, 1);
  if (control->doneEvent != nullptr) SetEvent(control->doneEvent);
}
