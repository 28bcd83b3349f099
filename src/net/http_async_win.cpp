#include "net/http_async_win.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "net/http_common_win.h"
#include "net/job_table.h"
#include "net/monotonic_clock.h"
#include "sys/diag.h"
#include "sys/text_format.h"

namespace net {

namespace {

void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength) {
  DownloadJobTable& table = DownloadJobTable::Instance();
  const uint32_t jobId = static_cast<uint32_t>(context);
  IHttpAsync* job = table.AcquireJob(jobId);
  // A retired job still hears about its handle closing (the handle's
  // reference keeps it alive until then).
  if (!job && status == INTERNET_STATUS_HANDLE_CLOSING) job = table.AcquireRetiringJob(jobId);
  if (!job) return;
  // Only CHttpAsync objects install this callback with their job id.
  static_cast<CHttpAsync*>(job)->OnStatus(handle, status, info, infoLength);
  table.ReleaseJob(job);
}

void CALLBACK SilentCallback(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

}  // namespace

namespace {

// The read size the last request grew to: a request starts there (up to
// kLargestFirstRead) rather than at the smallest read, since a download's
// requests follow each other on the same link (each piece is a request of
// its own). A first read that waits for a large buffer would hold back the
// response's first progress and a stop set just after it.
std::atomic<uint32_t> g_readSizeHint{kSmallestRead};
constexpr uint32_t kLargestFirstRead = 128 * 1024;

}  // namespace

CHttpAsync::CHttpAsync() : readSize_(std::min(g_readSizeHint.load(), kLargestFirstRead)) {
  SetStep(kStepSend);
}

CHttpAsync::~CHttpAsync() {
  Close();
  if (requestOpened_ && WaitForSingleObject(closedEvent_.Get(), kCloseWaitMs) != WAIT_OBJECT_0) {
    DiagPrintf(L"CHttpAsync %08x: request handle not closed in time\r\n", params_.context);
    request_.Take();  // WinINet still owns it
    return;
  }
  FreeState();
}

int CHttpAsync::Start(std::wstring url, uint32_t useRange, uint32_t rangeFirst,
                      uint32_t rangeLast, IOutFile* sink, uint32_t jobId,
                      const wchar_t* extraHeaders) {
  // A start that fails ends the job at once, so the task treats it as any
  // failed connection instead of waiting for it until the deadline.
  if (!FillParams(url, useRange, rangeFirst, rangeLast, jobId)) {
    SignalEnd(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (extraHeaders) {
    extraHeaders_ = extraHeaders;
    params_.extraHeaders = extraHeaders_.c_str();
  }
  state_->params = params_;
  if (!sink) {
    SignalEnd(ERROR_INVALID_PARAMETER);
    return 0;
  }
  sink->AddRef();
  state_->sink = sink;
  sink->OnStart();
  if (!OpenHandles()) {
    const DWORD error = GetLastError();
    CloseSetupHandles();
    SignalEnd(error != 0 ? error : ERROR_INTERNET_INTERNAL_ERROR);
    return 0;
  }
  RunStateMachine(0);
  return 1;
}

bool CHttpAsync::OpenHandles() {
  root_.Set(InternetOpenW(kMozillaUserAgent, params_.useProxy ? INTERNET_OPEN_TYPE_PROXY : 0,
                          params_.proxyName, nullptr, INTERNET_FLAG_ASYNC));
  HINTERNET root = root_.Get();
  state_->root = root;
  if (!root) return false;
  DWORD connectTimeout = params_.connectTimeout;
  DWORD sendTimeout = params_.sendTimeout;
  DWORD receiveTimeout = params_.receiveTimeout;
  InternetSetOptionW(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof(DWORD));
  InternetSetOptionW(root, INTERNET_OPTION_SEND_TIMEOUT, &sendTimeout, sizeof(DWORD));
  InternetSetOptionW(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof(DWORD));
  if (InternetSetStatusCallbackW(root, StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
    return false;
  }
  const DWORD_PTR context = params_.context;
  const INTERNET_PORT port =
      static_cast<INTERNET_PORT>(params_.secure ? INTERNET_DEFAULT_HTTPS_PORT : params_.port);
  connect_.Set(InternetConnectW(root, params_.host, port, nullptr, nullptr,
                                INTERNET_SERVICE_HTTP, 0, context));
  HINTERNET connect = connect_.Get();
  state_->connect = connect;
  if (!connect) return false;
  static const wchar_t* kAcceptTypes[] = {L"*/*", nullptr};
  // No cookies: a package download needs none, and each request would
  // otherwise read and write the cookie store, a file-backed index behind a
  // mutex that every connection of the download maps and unmaps (under Wine
  // a fifth of the time of 256 MiB over eight connections on loopback).
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_COOKIES;
  if (params_.secure) flags |= INTERNET_FLAG_SECURE;
  request_.Set(HttpOpenRequestW(connect, params_.method == kMethodGet ? L"GET" : L"POST",
                                params_.path, nullptr, nullptr, kAcceptTypes, flags, context));
  HINTERNET request = request_.Get();
  state_->request = request;
  if (!request) return false;
  requestOpened_ = true;
  requestHandle_ = request;
  __atomic_store_n(&state_->awaitingClose, 1u, __ATOMIC_SEQ_CST);
  AddRef();  // released when WinINet reports the request handle closed
  state_->openTick = GetTickCount();
  return true;
}

void CHttpAsync::CloseSetupHandles() {
  // Only reached when the request handle was never opened.
  CloseParentHandles();
}

void CHttpAsync::CloseParentHandles() {
  for (ScopedInternetHandle* handle : {&connect_, &root_}) {
    if (!handle->IsValid()) continue;
    InternetSetStatusCallbackW(handle->Get(), SilentCallback);
    handle->Close();
  }
  state_->connect = nullptr;
  state_->root = nullptr;
}

bool CHttpAsync::ResendsAfter(DWORD error) {
  // A reply that is not HTTP is an answer, not a lost connection.
  const bool connectionLost =
      error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_CONNECTION_ABORTED;
  if (resends_ >= kMaxResends || !connectionLost || params_.method != kMethodGet) return false;
  {
    AutoLock lock(*lock_);
    // Only a send: once a response was seen the failure is the server's.
    if (state_->requestStep != kStepRead || state_->firstReadCounter != 0 || state_->closing) {
      return false;
    }
    state_->requestStep = kStepSend;
    state_->sendFailed = 0;
  }
  ++resends_;
  DiagPrintf(L"CHttpAsync %08x: connection lost before the response (%lu), sent again\r\n",
             params_.context, static_cast<unsigned long>(error));
  return true;
}

void CHttpAsync::RunStateMachine(DWORD error) {
  if (error != 0 && !ResendsAfter(error)) {
    SignalEnd(error);
    return;
  }
  for (;;) {
    DWORD result = kContinue;
    switch (state_->requestStep) {
      case kStepSend: result = StepSend(); break;
      case kStepRead: result = StepRead(); break;
      case kStepDeliver: result = StepDeliver(); break;
      default: {
        AutoLock lock(*lock_);
        state_->completeTick = GetTickCount();
        result = 0;
        break;
      }
    }
    if (result == kContinue) continue;
    if (result == ERROR_IO_PENDING) return;  // the callback carries on
    if (ResendsAfter(result)) continue;
    SignalEnd(result);
    return;
  }
}

DWORD CHttpAsync::StepSend() {
  SetStep(kStepRead);
  if (!AcquireRequest()) return ERROR_OPERATION_ABORTED;
  HINTERNET request = request_.Get();
  if (params_.extraHeaders) {
    HttpAddRequestHeadersW(request, params_.extraHeaders, static_cast<DWORD>(-1),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }
  wchar_t range[kUrlUnits];
  const wchar_t* headers = nullptr;
  if (params_.useRange) {
    FormatWide(range, kUrlUnits, L"Range: bytes=%lu-%lu",
             static_cast<unsigned long>(params_.rangeFirst),
             static_cast<unsigned long>(params_.rangeLast));
    headers = range;
  }
  const BOOL sent =
      HttpSendRequestW(request, headers, headers ? static_cast<DWORD>(-1) : 0, nullptr, 0);
  const DWORD error = sent ? 0 : GetLastError();
  ReleaseRequest();
  if (sent) return kContinue;
  if (error != ERROR_IO_PENDING) state_->sendFailed = 1;
  return error;
}

void CHttpAsync::OnFirstResponse() {
  HINTERNET request = request_.Get();
  char host[kHostHeaderBytes];
  DWORD size = sizeof(host) - 1;
  DWORD index = 0;
  if (!HttpQueryInfoA(request, HTTP_QUERY_HOST | HTTP_QUERY_FLAG_REQUEST_HEADERS, host, &size,
                      &index)) {
    size = 0;
  }
  host[size] = 0;
  HttpResponseInfo response;
  bool tooLarge = false;
  const bool rangeParsed = QueryResponseInfo(request, &response, &tooLarge);
  {
    AutoLock lock(*lock_);
    state_->firstReadTick = GetTickCount();
    state_->responseTime = UnixNow();
    std::memcpy(state_->hostHeader, host, size + 1);
    state_->response = response;
    state_->sizeTooLarge = tooLarge ? 1 : 0;
    if (response.status == 200) {
      state_->partialOk = 0;
      state_->totalLength = response.contentLength;
    } else if (response.status == 206 && rangeParsed) {
      state_->partialOk = 1;
      state_->totalLength = response.rangeTotal;
    }
  }
  state_->sink->OnResponse(response, params_.rangeFirst, params_.rangeLast, params_.context);
  SignalResponse();
}

DWORD CHttpAsync::StepRead() {
  SetStep(kStepDeliver);
  if (!AcquireRequest()) return ERROR_OPERATION_ABORTED;
  if (InterlockedAdd32(&state_->firstReadCounter, 1) == 1) {
    OnFirstResponse();
    // A reply that is not HTTP, or a size this download cannot address, is
    // never read as a body.
    if (state_->response.status == 0 || state_->sizeTooLarge) {
      ReleaseRequest();
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    }
    // A ranged request must be answered with 206 and a Content-Range: a
    // body placed without one would land at the wrong offsets. A request
    // that may be answered with the whole file takes a 200 as that.
    const bool partial = state_->response.status == 206 && state_->partialOk;
    const bool whole = params_.useRange == kRangeOrWhole && state_->response.status == 200;
    if (params_.useRange && !partial && !whole) {
      ReleaseRequest();
      return ERROR_INVALID_PARAMETER;
    }
  }
  // When the read completes later, WinINet fills pendingRead_ before the
  // completion callback runs the deliver step.
  pendingRead_ = 0;
  readAsked_ = NextReadSize();
  readAskedTick_ = GetTickCount();
  // Wine makes sure a read's buffer is writable by reading and rewriting a
  // byte of each page: on memory never touched that is two page faults and a
  // TLB flush on every processor per page. Written here first, each page
  // costs one fault; reads only ever grow, so each page is written once.
  if (readAsked_ > preparedBytes_) {
    std::memset(state_->buffer + preparedBytes_, 0, readAsked_ - preparedBytes_);
    preparedBytes_ = readAsked_;
  }
  const BOOL read = InternetReadFile(request_.Get(), state_->buffer, readAsked_, &pendingRead_);
  const DWORD error = read ? 0 : GetLastError();
  ReleaseRequest();
  if (read) return kContinue;
  return error;
}

uint32_t CHttpAsync::NextReadSize() {
  AutoLock lock(*lock_);
  const uint32_t start = state_->partialOk ? state_->response.rangeFirst : 0;
  const uint64_t position = uint64_t{start} + state_->delivered;
  uint64_t last = 0xFFFFFFFFu;
  if (params_.useRange && state_->partialOk) last = params_.rangeLast;
  if (state_->stopAtSet) last = std::min<uint64_t>(last, state_->stopAt);
  // Past the last byte (the stop was lowered meanwhile), one byte is read:
  // delivering it ends the job through the usual stop.
  if (position > last) return 1;
  return static_cast<uint32_t>(std::min<uint64_t>(readSize_, last - position + 1));
}

void CHttpAsync::AdaptReadSize(uint32_t got) {
  // Doubled while full reads complete within a few milliseconds, halved when
  // one waits longer than a progress step would: the size follows the link.
  constexpr uint32_t kQuickMs = 10;
  constexpr uint32_t kSlowMs = 50;
  const uint32_t took = GetTickCount() - readAskedTick_;
  if (got == readAsked_ && readAsked_ == readSize_ && took <= kQuickMs) {
    readSize_ = static_cast<uint32_t>(std::min<std::size_t>(readSize_ * 2u, kReceiveBufferSize));
  } else if (took > kSlowMs) {
    readSize_ = static_cast<uint32_t>(std::max<std::size_t>(readSize_ / 2u, kSmallestRead));
  }
  g_readSizeHint.store(readSize_);
}

DWORD CHttpAsync::StepDeliver() {
  SetStep(kStepRead);
  uint32_t length = pendingRead_;
  AdaptReadSize(length);
  {
    AutoLock lock(*lock_);
    state_->bytesRead = length;
  }
  if (length == 0) {
    SetStep(kStepComplete);
    return kContinue;
  }
  bodyRead_ += length;
  const uint32_t start = state_->partialOk ? state_->response.rangeFirst : 0;
  const uint32_t position = start + state_->delivered;
  // The whole announced body is here: the next read finds its end, so that
  // WinINet keeps the connection for the next request. A job that ends with
  // body left unread (cut at its stop, or a server sending past the range)
  // leaves that rest to WinINet, which reads it off the connection when the
  // handle closes.
  const uint32_t bodyLength = state_->response.contentLength;
  const bool wholeBody = bodyLength != kNoLength && bodyRead_ >= bodyLength;
  bool lastChunk = false;
  if (params_.useRange && state_->partialOk) {
    if (position > params_.rangeLast) return ERROR_INVALID_PARAMETER;
    if (uint64_t{position} + length - 1 >= params_.rangeLast) {
      length = params_.rangeLast - position + 1;
      lastChunk = true;
    }
  }
  uint32_t limit = 0;
  {
    AutoLock lock(*lock_);
    limit = ChunkLimit(*state_, position, length);
    // The job's last byte is here: it ends without another read.
    if (state_->stopAtSet && uint64_t{position} + length - 1 == state_->stopAt) lastChunk = true;
  }
  int stop = 0;
  state_->sink->Write(position, state_->buffer, length, limit, params_.context, &stop);
  {
    AutoLock lock(*lock_);
    state_->delivered += length;
    state_->position = position + length;
  }
  if ((stop || lastChunk) && !wholeBody) SetStep(kStepComplete);
  return kContinue;
}

void CHttpAsync::OnStatus(void* handle, DWORD status, void* info, DWORD infoLength) {
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER: {
      wchar_t address[kServerAddressUnits];
      CopyCallbackText(info, infoLength, address, kServerAddressUnits);
      AutoLock lock(*lock_);
      std::memcpy(state_->redirected ? state_->serverAfter : state_->serverBefore, address,
                  sizeof(address));
      break;
    }
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      InterlockedAdd32(&state_->responseChunkCount, 1);
      if (info && infoLength >= sizeof(DWORD)) {
        AutoLock lock(*lock_);
        state_->speed.Add(MonotonicSeconds(), *static_cast<const DWORD*>(info));
      }
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      if (handle != nullptr && handle == requestHandle_) {
        requestHandle_ = nullptr;
        SetEvent(closedEvent_.Get());
        DownloadJobTable::Instance().OnHandleClosed(params_.context);
        Release();  // the handle's reference; the callback still holds one
      }
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      const DWORD error = result ? result->dwError : ERROR_INVALID_PARAMETER;
      RunStateMachine(error);
      break;
    }
    case INTERNET_STATUS_REDIRECT: {
      std::wstring url(kRedirectUrlUnits, L'\0');
      CopyCallbackText(info, infoLength, &url[0], kRedirectUrlUnits);
      AutoLock lock(*lock_);
      state_->redirected = 1;
      std::memcpy(state_->redirectUrl, url.data(), kRedirectUrlUnits * sizeof(wchar_t));
      break;
    }
    default:
      break;
  }
}

void CHttpAsync::SetStep(int32_t step) {
  AutoLock lock(*lock_);
  state_->requestStep = step;
}

bool CHttpAsync::AcquireRequest() {
  AutoLock lock(*lock_);
  if (state_->closing) return false;
  ++state_->handleUseCount;
  return true;
}

void CHttpAsync::ReleaseRequest() {
  bool closeNow = false;
  {
    AutoLock lock(*lock_);
    --state_->handleUseCount;
    closeNow = state_->closing == 1 && state_->handleUseCount == 0;
  }
  if (closeNow) CloseRequestHandleNow();
}

void CHttpAsync::CloseRequest() {
  int32_t inUse = 0;
  {
    AutoLock lock(*lock_);
    if (state_->closing) return;  // only the first Close closes the handle
    state_->closing = 1;
    inUse = state_->handleUseCount;
  }
  if (inUse == 0) CloseRequestHandleNow();
}

void CHttpAsync::CloseRequestHandleNow() {
  if (!request_.IsValid()) {
    SetEvent(closedEvent_.Get());
    return;
  }
  if (request_.Close() || GetLastError() != ERROR_IO_PENDING) SetEvent(closedEvent_.Get());
}

int CHttpAsync::Wait(uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse) {
  // Both pending: the response is reported first.
  if (alsoResponse) {
    return WaitEvents(responseEvent_.Get(), kWaitResponse, endEvent_.Get(), kWaitEnded, true,
                      timeoutMs, snapshot);
  }
  return WaitEvents(endEvent_.Get(), kWaitEnded, nullptr, kWaitFailed, false, timeoutMs,
                    snapshot);
}

int CHttpAsync::Close() {
  if (closed_) return 1;
  closed_ = true;
  CloseRequest();
  CloseParentHandles();
  return 1;
}

}  // namespace net
