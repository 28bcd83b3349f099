#include "net/download_control.h"

DownloadControl* CreateDownloadControl(const volatile LONG* runCancel) {
  DownloadControl* control = new DownloadControl;
  control->runCancel = runCancel;
  control->doneEvent.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  control->trace.reset(new TraceBuffer);
  return control;
}

void CancelDownload(DownloadControl* control) {
  if (control == nullptr || control->closed) return;
  InterlockedExchange(&control->cancel, 1);
}

int IsDownloadCancelled(DownloadControl* control) {
  if (control == nullptr) return 0;
  if (control->closed) return 1;
  if (control->runCancel != nullptr && *control->runCancel != 0) return 1;
  return control->cancel != 0 ? 1 : 0;
}

int IsDownloadStalled(const DownloadControl* control) {
  if (control == nullptr || control->closed) return 0;
  return control->stalled != 0 ? 1 : 0;
}

bool GetDownloadTrace(DownloadControl* control, wchar_t* buffer, std::size_t capacity) {
  if (control == nullptr || !control->trace) return false;
  return control->trace->Copy(buffer, capacity);
}

void DestroyDownloadControl(DownloadControl* control) {
  if (control == nullptr || control->closed) return;
  // A control no download took is not waited for: nothing would signal it.
  const bool taken = InterlockedCompareExchange(&control->use, 2, 0) != 0;
  if (taken && control->doneEvent.IsValid()) {
    WaitForSingleObject(control->doneEvent.Get(), INFINITE);
  }
  control->doneEvent.Close();
  control->trace->Close();
  InterlockedExchange(&control->closed, 1);
  control->trace.reset();
}

bool TakeDownloadControl(DownloadControl* control) {
  if (control == nullptr) return true;
  return InterlockedCompareExchange(&control->use, 1, 0) == 0;
}

void MarkDownloadDone(DownloadControl* control) {
  if (control == nullptr) return;
  InterlockedExchange(&control->done, 1);
  if (control->doneEvent.IsValid()) SetEvent(control->doneEvent.Get());
}
