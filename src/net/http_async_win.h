#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "net/http_common_win.h"
#include "net/win_handles.h"

namespace net {

// One HTTP GET over WinINet in asynchronous mode. The status callback, on
// WinINet's threads, drives the request state machine send -> read ->
// deliver -> complete and pushes every chunk into the sink. The callback
// reaches this object through the job table by job id only.
class CHttpAsync : public CHttpRequestBase {
 public:
  CHttpAsync();
  ~CHttpAsync() override;

  int Start(std::wstring url, uint32_t useRange, uint32_t rangeFirst, uint32_t rangeLast,
            IOutFile* sink, uint32_t jobId, const wchar_t* extraHeaders) override;
  int Wait(uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse) override;
  int Close() override;

  // The status callback's work for this job.
  void OnStatus(void* handle, DWORD status, void* info, DWORD infoLength);

  // Wait for the closed event on destruction.
  static constexpr DWORD kCloseWaitMs = 5000;

 private:
  // Step results besides Win32 codes: go on with the next step.
  static constexpr DWORD kContinue = 0xFFFFFFFFu;

  bool OpenHandles();
  void CloseSetupHandles();
  // Silences and closes the connect and root handles.
  void CloseParentHandles();
  void RunStateMachine(DWORD error);
  DWORD StepSend();
  DWORD StepRead();
  DWORD StepDeliver();
  void OnFirstResponse();
  void End(DWORD error);

  // The handle-use guard around every WinINet call on the request handle.
  bool AcquireRequest();
  void ReleaseRequest();
  void CloseRequest();
  void CloseRequestHandleNow();

  std::wstring extraHeaders_;
  // Leaked with the state when the closed event never comes, since WinINet
  // may still hold the buffer and the handles then.
  CriticalSection* lock_;
  bool requestOpened_ = false;
  // The open request handle holds a reference on this object until WinINet
  // reports it closed: a read still pending in WinINet writes into the
  // receive buffer, so the buffer must outlive the handle, not the job.
  void* requestHandle_ = nullptr;
  bool closed_ = false;
};

}  // namespace net
