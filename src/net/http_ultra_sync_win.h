#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "net/http_common_win.h"

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
  // Reads the response and its body into the sink; the job's end error.
  DWORD ReadBody();
  // Publishes the request handle for Close; false when Close came first.
  bool PublishRequest(HINTERNET request);
  // The published request handle, now owned by the caller (null when Close
  // took it).
  HINTERNET TakeRequest();

  ScopedHandle thread_;
};

}  // namespace net
