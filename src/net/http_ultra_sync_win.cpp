#include "net/http_ultra_sync_win.h"

#include <cstdio>
#include <cstring>

#include "net/http_common_win.h"
#include "net/job_table.h"
#include "sys/diag.h"

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

CHttpUltraSync::CHttpUltraSync() : lock_(4000) {}

CHttpUltraSync::~CHttpUltraSync() { FreeState(); }

std::wstring CHttpUltraSync::RangeHeader(uint32_t rangeFirst, uint32_t rangeLast) {
  wchar_t header[96];
  // Unsigned: offsets past 2 GiB must not turn negative.
  if (rangeLast == 0 || rangeLast == kNoLength) {
    swprintf(header, 96, L"Range: bytes=%u-\r\n", rangeFirst);
  } else {
    swprintf(header, 96, L"Range: bytes=%u-%u\r\n", rangeFirst, rangeLast);
  }
  return header;
}

int CHttpUltraSync::Start(std::wstring url, uint32_t useRange, uint32_t rangeFirst,
                          uint32_t rangeLast, IOutFile* sink, uint32_t jobId,
                          const wchar_t* extraHeaders) {
  if (!FillParams(url, useRange, rangeFirst, rangeLast, jobId)) return 0;
  if (!sink) {
    state_->lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  // Threaded requests send their own header set; extraHeaders is not used.
  sink->AddRef();
  state_->sink = sink;
  thread_.reset(CreateThread(nullptr, 0, WorkerThread,
                             reinterpret_cast<void*>(static_cast<uintptr_t>(jobId)), 0, nullptr));
  if (!thread_.valid()) state_->lastError = GetLastError();
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
  AutoLock lock(lock_);
  if (state_->abortRequested) return false;
  state_->request = request;
  return true;
}

HINTERNET CHttpUltraSync::TakeRequest() {
  AutoLock lock(lock_);
  HINTERNET request = state_->request;
  state_->request = nullptr;
  return request;
}

void CHttpUltraSync::Run() {
  HINTERNET root = InternetOpenW(L"VexloInstaller", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                 nullptr, 0);
  if (!root) {
    state_->lastError = GetLastError();
    return;
  }
  state_->root = root;
  if (SetTimeouts(root)) {
    std::wstring headers = L"User-Agent: ";
    headers += kMozillaUserAgent;
    headers += L"\r\nAccept: */*\r\n";
    headers += RangeHeader(params_.rangeFirst, params_.rangeLast);
    HINTERNET request =
        InternetOpenUrlW(root, params_.url, headers.c_str(), static_cast<DWORD>(-1),
                         INTERNET_FLAG_RAW_DATA | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request) {
      state_->lastError = GetLastError();
    } else if (!PublishRequest(request)) {
      InternetCloseHandle(request);
      state_->lastError = ERROR_OPERATION_ABORTED;
    } else {
      state_->openTick = GetTickCount();
      ReadBody(request);
      request = TakeRequest();
      if (request) InternetCloseHandle(request);
    }
  }
  state_->root = nullptr;
  InternetCloseHandle(root);
  state_->completeTick = GetTickCount();
  SetEvent(state_->endEvent);
}

void CHttpUltraSync::ReadBody(HINTERNET request) {
  const bool rangeParsed = QueryResponseInfo(request, &state_->response);
  const uint32_t status = state_->response.status;
  state_->firstReadTick = GetTickCount();
  state_->responseTime = UnixNow();
  if (status != 200 && status != 206 && status != 304) return;
  if (status == 206 && rangeParsed) {
    state_->partialOk = 1;
    state_->totalLength = state_->response.rangeTotal;
  } else if (status == 200) {
    state_->totalLength = state_->response.contentLength;
  }
  SetEvent(state_->responseEvent);
  // Bytes go where the server says they belong: a 200 carries the file from
  // offset 0 even when a range was asked for.
  uint32_t position = params_.rangeFirst;
  if (status == 206 && rangeParsed) position = state_->response.rangeFirst;
  if (status == 200) position = 0;
  state_->position = position;
  int stop = 0;
  while (stop == 0 && state_->abortRequested == 0) {
    DWORD count = 0;
    if (!InternetReadFile(request, state_->buffer, static_cast<DWORD>(kReceiveBufferSize),
                          &count)) {
      state_->lastError = GetLastError();
      break;
    }
    state_->bytesRead = count;
    if (count == 0) break;
    const uint32_t limit = ChunkLimit(*state_, position, count);
    state_->speed.Add(UnixNow(), count);
    InterlockedAdd32(&state_->responseChunkCount, 1);
    state_->sink->Write(position, state_->buffer, count, limit, params_.context, &stop);
    position += count;
    state_->delivered += count;
    state_->position = position;
  }
}

int CHttpUltraSync::Wait(uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse) {
  // Both pending: the end is reported first.
  const int result = WaitRequestEvents(state_->endEvent, kWaitEnded, state_->responseEvent,
                                       kWaitResponse, alsoResponse != 0, timeoutMs, state_,
                                       snapshot);
  if (result == kWaitFailed) {
    DiagPrintf(L"Wait failed with Error %d while waiting for completion event (request will be "
               L"cancelled)\n",
               static_cast<int>(GetLastError()));
  }
  return result;
}

int CHttpUltraSync::Close() {
  HINTERNET request = nullptr;
  {
    AutoLock lock(lock_);
    state_->abortRequested = 1;
    request = state_->request;
    state_->request = nullptr;
  }
  // Closing the handle makes a blocked InternetReadFile return.
  if (request) InternetCloseHandle(request);
  return 1;
}

}  // namespace net
