#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

#include "net/com_object.h"
#include "net/http_types.h"
#include "sys/lock.h"
#include "sys/scoped_handle_win.h"

namespace net {

// What both request classes share: the parameters, the owned state and the
// operations that only set state words.
// The fields the download task reads (position, delivered, the response,
// lastError, stopAt, addresses, the speed ring) are written under lock_,
// and Wait copies the state under it, so a snapshot is never torn.
class CHttpRequestBase : public IHttpAsync, public CMyCComObjectRoot {
 public:
  int SetStopAt(uint32_t lastOffset) override;
  int SetTag(uint32_t value) override;
  int RequestAbort() override;
  HttpRequestState* GetState() override { return state_; }

 protected:
  CHttpRequestBase();
  ~CHttpRequestBase() override;
  // Start's common part: the start tick, the job id, the cracked URL and the
  // range, copied into the state. A URL that does not crack or does not fit
  // its fields ends here with error 87 (the job then stays silent).
  bool FillParams(const std::wstring& url, uint32_t useRange, uint32_t rangeFirst,
                  uint32_t rangeLast, uint32_t jobId);
  // Frees the state, then tells the sink and drops it. Not done by the
  // destructor: a request whose handle never closed keeps its state.
  void FreeState();
  // Stores error as lastError and signals the end event.
  void SignalEnd(DWORD error);
  // Signals the response event.
  void SignalResponse();
  // Waits for either event (first reported first when both are set) or,
  // when alsoSecond is false, for first alone, then copies the state into
  // *snapshot under the lock. Returns firstResult, secondResult,
  // kWaitTimedOut or kWaitFailed.
  int WaitEvents(HANDLE first, int firstResult, HANDLE second, int secondResult, bool alsoSecond,
                 DWORD timeoutMs, HttpRequestState* snapshot);

  HttpRequestParams params_;
  HttpRequestState* state_;  // owned
  // Leaked with the state when a request handle never reports closed, since
  // WinINet may still be inside the guard then.
  Lock* lock_;
  // The state holds copies of these for its layout; these own them.
  ScopedHandle endEvent_;
  ScopedHandle closedEvent_;
  ScopedHandle responseEvent_;

 private:
  // Signals set and not yet taken by a wait, per auto-reset event: a wait
  // that must not block (the task polls every connection with timeout 0)
  // answers from these without a call into the system, which under Wine is
  // a round trip to the server for every poll.
  std::atomic<int>* PendingSignals(HANDLE event);
  std::atomic<int> endSignals_{0};
  std::atomic<int> responseSignals_{0};
};

// User agent of the asynchronous requests and the User-Agent header of the
// threaded ones.
extern const wchar_t kMozillaUserAgent[];

// Canonicalises url and cracks it into params->host, path (with query) and
// port. Fails (false) for a URL WinINet rejects or whose parts do not fit
// the parameter fields.
bool CrackUrlInto(const std::wstring& url, HttpRequestParams* params);

// Status, Content-Length, Date, Last-Modified and Content-Range of the
// response on request. Returns whether a Content-Range was parsed. A reply
// that is not HTTP/1.x gets status 0; *sizeTooLarge is set when the length
// or the Content-Range total does not fit 32 bits.
bool QueryResponseInfo(HINTERNET request, HttpResponseInfo* info, bool* sizeTooLarge);

// Copies a status-callback text (UTF-16 when IsTextUnicode says so, else
// ANSI) into out, at most units - 1 characters, zero-terminated.
void CopyCallbackText(const void* info, DWORD length, wchar_t* out, size_t units);

// The limit handed to the sink: the stop offset when this chunk runs past it.
uint32_t ChunkLimit(const HttpRequestState& state, uint32_t position, uint32_t length);

// An auto-reset event set whenever any request reports its response or its
// end: a task that sleeps on something else wakes for it too.
HANDLE RequestNewsEvent();

uint32_t UnixNow();

// Zero-filled state with the receive buffer.
HttpRequestState* NewRequestState();
void DeleteRequestState(HttpRequestState* state);

}  // namespace net
