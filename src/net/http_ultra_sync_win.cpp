#include "net/http_ultra_sync_win.h"

#include <cstdio>
#include <cstring>

#include "net/http_common_win.h"
#include "net/job_table.h"
#include "net/monotonic_clock.h"
#include "sys/diag.h"
#include "sys/text_format.h"

namespace net {

namespace {

DWORD WINAPI WorkerThread(void* parameter) {
  const uint32_t jobId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(parameter));
  DownloadJobTable& table = DownloadJobTable::Instance();
  IHttpAsync* job = table.AcquireJob(jobId);
  if (!job) return 0;
  // Only CHttpUltraSync starts this thread with its job id.
  static_cast<CHttpUltraSync*>(job)->Run();
  table.ReleaseJob(job);
  return 0;
}

bool SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  return InternetSetOptionW(handle, option, &value, sizeof(value)) != FALSE;
}

}  // namespace

CHttpUltraSync::CHttpUltraSync() = default;

CHttpUltraSync::~CHttpUltraSync() { FreeState(); }

std::wstring CHttpUltraSync::RangeHeader(uint32_t rangeFirst, uint32_t rangeLast) {
  wchar_t header[96];
  // Unsigned: offsets past 2 GiB must not turn negative.
  if (rangeLast == 0 || rangeLast == kNoLength) {
    FormatWide(header, 96, L"Range: bytes=%u-\r\n", rangeFirst);
  } else {
    FormatWide(header, 96, L"Range: bytes=%u-%u\r\n", rangeFirst, rangeLast);
  }
  return header;
}

int CHttpUltraSync::Start(std::wstring url, uint32_t useRange, uint32_t rangeFirst,
                          uint32_t rangeLast, IOutFile* sink, uint32_t jobId,
                          const wchar_t* extraHeaders) {
  // A start that fails ends the job at once (see CHttpAsync::Start).
  if (!FillParams(url, useRange, rangeFirst, rangeLast, jobId) || !sink) {
    SignalEnd(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Threaded requests send their own header set; extraHeaders is not used.
  sink->AddRef();
  state_->sink = sink;
  thread_.Set(CreateThread(nullptr, 0, WorkerThread,
                             reinterpret_cast<void*>(static_cast<uintptr_t>(jobId)), 0, nullptr));
  if (!thread_.IsValid()) SignalEnd(GetLastError());
  return 1;
}

bool CHttpUltraSync::SetTimeouts(HINTERNET root) {
  // The send time-out and the (unlimited) receive time-out are each set twice.
  return SetDwordOption(root, INTERNET_OPTION_CONNECT_TIMEOUT, 10000) &&
         SetDwordOption(root, INTERNET_OPTION_SEND_TIMEOUT, 10000) &&
         SetDwordOption(root, INTERNET_OPTION_SEND_TIMEOUT, 10000) &&
         SetDwordOption(root, INTERNET_OPTION_RECEIVE_TIMEOUT, 0) &&
         SetDwordOption(root, INTERNET_OPTION_RECEIVE_TIMEOUT, 0);
}

bool CHttpUltraSync::PublishRequest(HINTERNET request) {
  AutoLock lock(*lock_);
  if (state_->abortRequested) return false;
  state_->request = request;
  return true;
}

HINTERNET CHttpUltraSync::TakeRequest() {
  AutoLock lock(*lock_);
  HINTERNET request = state_->request;
  state_->request = nullptr;
  return request;
}

void CHttpUltraSync::Run() {
  ScopedInternetHandle root(
      InternetOpenW(L"VexloInstaller", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root.IsValid()) {
    SignalEnd(GetLastError());
    return;
  }
  DWORD error = 0;
  if (SetTimeouts(root.Get())) {
    std::wstring headers = L"User-Agent: ";
    headers += kMozillaUserAgent;
    headers += L"\r\nAccept: */*\r\n";
    headers += RangeHeader(params_.rangeFirst, params_.rangeLast);
    ScopedInternetHandle request(
        InternetOpenUrlW(root.Get(), params_.url, headers.c_str(), static_cast<DWORD>(-1),
                         INTERNET_FLAG_RAW_DATA | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request.IsValid()) {
      error = GetLastError();
    } else if (!PublishRequest(request.Get())) {
      error = ERROR_OPERATION_ABORTED;
    } else {
      // Close may take the handle from here on; whoever takes it closes it.
      request.Take();
      state_->openTick = GetTickCount();
      error = ReadBody();
      ScopedInternetHandle taken(TakeRequest());
    }
  } else {
    error = GetLastError();
  }
  {
    AutoLock lock(*lock_);
    state_->completeTick = GetTickCount();
  }
  SignalEnd(error);
}

DWORD CHttpUltraSync::ReadBody() {
  HINTERNET request = nullptr;
  {
    AutoLock lock(*lock_);
    request = state_->request;
  }
  if (request == nullptr) return ERROR_OPERATION_ABORTED;
  HttpResponseInfo response;
  bool tooLarge = false;
  const bool rangeParsed = QueryResponseInfo(request, &response, &tooLarge);
  const uint32_t status = response.status;
  // Bytes go where the server says they belong: a 200 carries the file from
  // offset 0 even when a range was asked for.
  uint32_t position = params_.rangeFirst;
  if (status == 206 && rangeParsed) position = response.rangeFirst;
  if (status == 200) position = 0;
  {
    AutoLock lock(*lock_);
    state_->response = response;
    state_->sizeTooLarge = tooLarge ? 1 : 0;
    state_->firstReadTick = GetTickCount();
    state_->responseTime = UnixNow();
    if (status == 206 && rangeParsed) {
      state_->partialOk = 1;
      state_->totalLength = response.rangeTotal;
    } else if (status == 200) {
      state_->totalLength = response.contentLength;
    }
    state_->position = position;
  }
  if (status == 0 || tooLarge) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  if (status != 200 && status != 206 && status != 304) return 0;
  SignalResponse();
  int stop = 0;
  while (stop == 0 && state_->abortRequested == 0) {
    DWORD count = 0;
    // A Close from the task closes the handle under this read, which then
    // fails: the handle value stays valid to pass until then.
    if (!InternetReadFile(request, state_->buffer, static_cast<DWORD>(kSyncReadSize),
                          &count)) {
      return GetLastError();
    }
    uint32_t limit = 0;
    {
      AutoLock lock(*lock_);
      state_->bytesRead = count;
      if (count != 0) {
        limit = ChunkLimit(*state_, position, count);
        state_->speed.Add(MonotonicSeconds(), count);
      }
    }
    if (count == 0) break;
    InterlockedAdd32(&state_->responseChunkCount, 1);
    state_->sink->Write(position, state_->buffer, count, limit, params_.context, &stop);
    position += count;
    AutoLock lock(*lock_);
    state_->delivered += count;
    state_->position = position;
  }
  return 0;
}

int CHttpUltraSync::Wait(uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse) {
  // Both pending: the end is reported first.
  const int result = WaitEvents(endEvent_.Get(), kWaitEnded, responseEvent_.Get(), kWaitResponse,
                                alsoResponse != 0, timeoutMs, snapshot);
  if (result == kWaitFailed) {
    DiagPrintf(L"Wait failed with Error %d while waiting for completion event (request will be "
               L"cancelled)\n",
               static_cast<int>(GetLastError()));
  }
  return result;
}

int CHttpUltraSync::Close() {
  ScopedInternetHandle request;
  {
    AutoLock lock(*lock_);
    state_->abortRequested = 1;
    request.Set(static_cast<HINTERNET>(state_->request));
    state_->request = nullptr;
  }
  // Closing the handle makes a blocked InternetReadFile return.
  request.Close();
  return 1;
}

}  // namespace net
