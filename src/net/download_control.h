#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

#include "net/trace_buffer.h"

// The caller-owned control block of one download: the caller may cancel it
// from any thread and reads the trace text when the download has ended. The
// block itself is never freed (other records keep pointing at it); destroying
// it releases its event and trace buffer and marks it closed, after which
// cancel requests are ignored.
struct DownloadControl {
  volatile LONG closed = 0;
  volatile LONG cancel = 0;
  volatile LONG done = 0;
  HANDLE doneEvent = nullptr;  // manual reset; signalled when the download call returns
  std::unique_ptr<TraceBuffer> trace;
};

DownloadControl* CreateDownloadControl();
void CancelDownload(DownloadControl* control);
// 1 when the control is closed, else the cancel flag.
int IsDownloadCancelled(DownloadControl* control);
// Copies the trace text into buffer (terminated, cut to capacity - 1).
bool GetDownloadTrace(DownloadControl* control, wchar_t* buffer, std::size_t capacity);
// Waits without limit for the download call to end, then releases the event
// and the trace buffer. A control whose download was never started must not
// be destroyed.
void DestroyDownloadControl(DownloadControl* control);
// Called by the download call as it returns.
void MarkDownloadDone(DownloadControl* control);
