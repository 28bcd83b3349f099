#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

#include "net/trace_buffer.h"
#include "sys/scoped_handle_win.h"

// The caller-owned control block of one download: the caller may cancel it
// from any thread and reads the trace text when the download has ended. The
// block itself is never freed (other records keep pointing at it); destroying
// it releases its event and trace buffer and marks it closed, after which
// cancel requests are ignored.
struct DownloadControl {
  volatile LONG closed = 0;
  volatile LONG cancel = 0;
  volatile LONG done = 0;
  // 0 until a download call takes the control, 1 once one did, 2 when the
  // control was destroyed before any did.
  volatile LONG use = 0;
  // 1 while the download has received no byte for a while and retries.
  volatile LONG stalled = 0;
  // The run's own cancel flag (may be null): a cancel that came while no
  // download held a control still ends every later download of the run.
  const volatile LONG* runCancel = nullptr;
  ScopedHandle doneEvent;  // manual reset; signalled when the download call returns
  std::unique_ptr<TraceBuffer> trace;
};

// runCancel (may be null) is a flag the download also treats as a cancel.
DownloadControl* CreateDownloadControl(const volatile LONG* runCancel = nullptr);
void CancelDownload(DownloadControl* control);
// 1 when the control is closed, else the cancel flag or the run's cancel
// flag; 0 for no control.
int IsDownloadCancelled(DownloadControl* control);
// 1 while the download retries without having received a byte for a while.
int IsDownloadStalled(const DownloadControl* control);
// Copies the trace text into buffer (terminated, cut to capacity - 1).
bool GetDownloadTrace(DownloadControl* control, wchar_t* buffer, std::size_t capacity);
// Waits without limit for the download call that took the control to end,
// then releases the event and the trace buffer. A control that no download
// call took is released at once, and a download call started with it
// afterwards returns 1223 without downloading.
void DestroyDownloadControl(DownloadControl* control);

// For the download call: takes the control for one download. False when it
// was destroyed or taken before; the call then returns at once. A null
// control (no caller to cancel or read a trace) is always taken.
bool TakeDownloadControl(DownloadControl* control);
// Called by the download call as it returns.
void MarkDownloadDone(DownloadControl* control);
