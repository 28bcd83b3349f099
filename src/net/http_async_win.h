#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "net/http_common_win.h"

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
  // Runs the request state machine with the error WinINet reported (0 to go
  // on).
  void RunStateMachine(DWORD error);
  // Whether a failed send is sent again: a GET whose connection failed
  // before any byte of a response, as a kept-alive connection does when the
  // server closed it just as the request went out. Each send may meet
  // another such connection of the pool (a server that ends the connections
  // of answers that asked for "Connection: close" without saying so leaves
  // one per answer), so up to kMaxResends times.
  bool ResendsAfter(DWORD error);
  static constexpr uint32_t kMaxResends = 8;
  void SetStep(int32_t step);
  DWORD StepSend();
  DWORD StepRead();
  DWORD StepDeliver();
  void OnFirstResponse();
  // What the next read may ask for: its adaptive size, cut at the job's last
  // byte so that no read takes bytes the job will not keep.
  uint32_t NextReadSize();
  void AdaptReadSize(uint32_t got);

  // The handle-use guard around every WinINet call on the request handle.
  bool AcquireRequest();
  void ReleaseRequest();
  void CloseRequest();
  void CloseRequestHandleNow();

  std::wstring extraHeaders_;
  ScopedInternetHandle root_;
  ScopedInternetHandle connect_;
  // Closed through the handle-use guard, never while a call is inside it.
  ScopedInternetHandle request_;
  // WinINet writes the count of a read that completes later from its own
  // thread; the deliver step copies it into the state under the lock.
  DWORD pendingRead_ = 0;
  // The size of the next read, what the last one asked for, and when it
  // was asked.
  uint32_t readSize_ = kSmallestRead;
  uint32_t readAsked_ = 0;
  uint32_t preparedBytes_ = 0;  // leading buffer bytes already written once
  uint32_t readAskedTick_ = 0;
  bool requestOpened_ = false;
  // The open request handle holds a reference on this object until WinINet
  // reports it closed: a read still pending in WinINet writes into the
  // receive buffer, so the buffer must outlive the handle, not the job.
  void* requestHandle_ = nullptr;
  bool closed_ = false;
  // Raw body bytes read (before any cut at the range end).
  uint32_t bodyRead_ = 0;
  uint32_t resends_ = 0;
};

}  // namespace net
