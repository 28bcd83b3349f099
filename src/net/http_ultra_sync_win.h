#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "net/http_common_win.h"
#include "net/win_handles.h"

namespace net {

// One HTTP GET on a thread of its own with synchronous WinINet
// (InternetOpenUrlW and an InternetReadFile loop). The thread receives only
// the job id and holds its own job reference while it runs.
class CHttpUltraSync : public CHttpRequestBase {
 public:
  CHttpUltraSync();
  ~CHttpUltraSync() override;

  int Start(std::wstring url, uint32_t useRange, uint32_t rangeFirst, uint32_t rangeLast,
            IOutFile* sink, uint32_t jobId, const wchar_t* extraHeaders) override;
  int Wait(uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse) override;
  int Close() override;

  // The worker thread's work.
  void Run();

  // "Range: bytes=%u-\r\n" for an open end (rangeLast 0 or 0xFFFFFFFF),
  // else "Range: bytes=%u-%u\r\n".
  static std::wstring RangeHeader(uint32_t rangeFirst, uint32_t rangeLast);

 private:
  bool SetTimeouts(HINTERNET root);
  void ReadBody(HINTERNET request);
  // Publishes the request handle for Close; false when Close came first.
  bool PublishRequest(HINTERNET request);
  HINTERNET TakeRequest();

  CriticalSection lock_;     // guards state_->request against Close
  ScopedHandle thread_;
};

}  // namespace net
