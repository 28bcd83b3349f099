#include "net/http_async_win.h"

#include <cstdio>
#include <cstring>

#include "net/http_common_win.h"
#include "net/job_table.h"
#include "sys/diag.h"

namespace net {

namespace {

void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength) {
  DownloadJobTable& table = DownloadJobTable::Instance();
  const uint32_t jobId = static_cast<uint32_t>(context);
  // The closing notice of a request handle also reaches retired jobs: their
  // handle reference keeps them alive until then.
  IHttpAsync* job = status == INTERNET_STATUS_HANDLE_CLOSING ? table.AcquireRetiringJob(jobId)
                                                             : table.AcquireJob(jobId);
  if (!job) return;
  // Only CHttpAsync objects install this callback with their job id.
  static_cast<CHttpAsync*>(job)->OnStatus(handle, status, info, infoLength);
  table.ReleaseJob(job);
}

void CALLBACK SilentCallback(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {}

}  // namespace

CHttpAsync::CHttpAsync() : lock_(new CriticalSection(4000)) { state_->requestStep = kStepSend; }

CHttpAsync::~CHttpAsync() {
  Close();
  if (requestOpened_ && WaitForSingleObject(state_->closedEvent, kCloseWaitMs) != WAIT_OBJECT_0) {
    DiagPrintf(L"CHttpAsync %08x: request handle not closed in time\r\n", params_.context);
    return;
  }
  delete lock_;
  FreeState();
}

int CHttpAsync::Start(std::wstring url, uint32_t useRange, uint32_t rangeFirst,
                      uint32_t rangeLast, IOutFile* sink, uint32_t jobId,
                      const wchar_t* extraHeaders) {
  if (!FillParams(url, useRange, rangeFirst, rangeLast, jobId)) return 0;
  if (extraHeaders) {
    extraHeaders_ = extraHeaders;
    params_.extraHeaders = extraHeaders_.c_str();
  }
  state_->params = params_;
  if (!sink) {
    state_->lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  sink->AddRef();
  state_->sink = sink;
  sink->OnStart();
  if (!OpenHandles()) {
    state_->lastError = GetLastError();
    CloseSetupHandles();
    return 0;
  }
  RunStateMachine(0);
  return 1;
}

bool CHttpAsync::OpenHandles() {
  HINTERNET root =
      InternetOpenW(kMozillaUserAgent, params_.useProxy ? INTERNET_OPEN_TYPE_PROXY : 0,
                    params_.proxyName, nullptr, INTERNET_FLAG_ASYNC);
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
  HINTERNET connect = InternetConnectW(root, params_.host, port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, context);
  state_->connect = connect;
  if (!connect) return false;
  static const wchar_t* kAcceptTypes[] = {L"*/*", nullptr};
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  if (params_.secure) flags |= INTERNET_FLAG_SECURE;
  HINTERNET request =
      HttpOpenRequestW(connect, params_.method == kMethodGet ? L"GET" : L"POST", params_.path,
                       nullptr, nullptr, kAcceptTypes, flags, context);
  state_->request = request;
  if (!request) return false;
  requestOpened_ = true;
  requestHandle_ = request;
  AddRef();  // released when WinINet reports the request handle closed
  state_->openTick = GetTickCount();
  return true;
}

void CHttpAsync::CloseSetupHandles() {
  if (state_->request) {
    InternetCloseHandle(state_->request);
    state_->request = nullptr;
    requestOpened_ = false;
  }
  CloseParentHandles();
}

void CHttpAsync::CloseParentHandles() {
  if (state_->connect) {
    InternetSetStatusCallbackW(state_->connect, SilentCallback);
    InternetCloseHandle(state_->connect);
    state_->connect = nullptr;
  }
  if (state_->root) {
    InternetSetStatusCallbackW(state_->root, SilentCallback);
    InternetCloseHandle(state_->root);
    state_->root = nullptr;
  }
}

void CHttpAsync::RunStateMachine(DWORD error) {
  if (error != 0) {
    End(error);
    return;
  }
  for (;;) {
    DWORD result = kContinue;
    switch (state_->requestStep) {
      case kStepSend: result = StepSend(); break;
      case kStepRead: result = StepRead(); break;
      case kStepDeliver: result = StepDeliver(); break;
      default:
        state_->completeTick = GetTickCount();
        result = 0;
        break;
    }
    if (result == kContinue) continue;
    if (result == ERROR_IO_PENDING) return;  // the callback carries on
    End(result);
    return;
  }
}

void CHttpAsync::End(DWORD error) {
  state_->lastError = error;
  SetEvent(state_->endEvent);
}

DWORD CHttpAsync::StepSend() {
  state_->requestStep = kStepRead;
  if (!AcquireRequest()) return ERROR_OPERATION_ABORTED;
  HINTERNET request = state_->request;
  if (params_.extraHeaders) {
    HttpAddRequestHeadersW(request, params_.extraHeaders, static_cast<DWORD>(-1),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }
  wchar_t range[kUrlUnits];
  const wchar_t* headers = nullptr;
  if (params_.useRange) {
    swprintf(range, kUrlUnits, L"Range: bytes=%lu-%lu",
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
  state_->firstReadTick = GetTickCount();
  state_->responseTime = UnixNow();
  HINTERNET request = state_->request;
  DWORD size = sizeof(state_->hostHeader) - 1;
  DWORD index = 0;
  if (!HttpQueryInfoA(request, HTTP_QUERY_HOST | HTTP_QUERY_FLAG_REQUEST_HEADERS,
                      state_->hostHeader, &size, &index)) {
    state_->hostHeader[0] = 0;
  }
  const bool rangeParsed = QueryResponseInfo(request, &state_->response);
  if (state_->response.status == 200) {
    state_->partialOk = 0;
    state_->totalLength = state_->response.contentLength;
  } else if (state_->response.status == 206 && rangeParsed) {
    state_->partialOk = 1;
    state_->totalLength = state_->response.rangeTotal;
  }
  state_->sink->OnResponse(state_->response.contentLength, params_.rangeFirst, params_.rangeLast);
  SetEvent(state_->responseEvent);
}

DWORD CHttpAsync::StepRead() {
  state_->requestStep = kStepDeliver;
  if (!AcquireRequest()) return ERROR_OPERATION_ABORTED;
  if (InterlockedAdd32(&state_->firstReadCounter, 1) == 1) {
    OnFirstResponse();
    // A ranged request must be answered with 206 and a Content-Range: a
    // body placed without one would land at the wrong offsets.
    if (params_.useRange && (state_->response.status != 206 || !state_->partialOk)) {
      ReleaseRequest();
      return ERROR_INVALID_PARAMETER;
    }
  }
  // When the read completes later, WinINet fills bytesRead before the
  // completion callback runs the deliver step.
  state_->bytesRead = 0;
  static_assert(sizeof(DWORD) == sizeof(state_->bytesRead), "bytesRead is a DWORD");
  const BOOL read =
      InternetReadFile(state_->request, state_->buffer, static_cast<DWORD>(kReceiveBufferSize),
                       reinterpret_cast<DWORD*>(&state_->bytesRead));
  const DWORD error = read ? 0 : GetLastError();
  ReleaseRequest();
  if (read) return kContinue;
  return error;
}

DWORD CHttpAsync::StepDeliver() {
  state_->requestStep = kStepRead;
  uint32_t length = state_->bytesRead;
  if (length == 0) {
    state_->requestStep = kStepComplete;
    return kContinue;
  }
  const uint32_t start = state_->partialOk ? state_->response.rangeFirst : 0;
  const uint32_t position = start + state_->delivered;
  state_->position = position;
  bool lastChunk = false;
  if (params_.useRange) {
    if (position > params_.rangeLast) return ERROR_INVALID_PARAMETER;
    if (uint64_t{position} + length - 1 > params_.rangeLast) {
      length = params_.rangeLast - position + 1;
      lastChunk = true;
    } else if (uint64_t{position} + length - 1 == params_.rangeLast) {
      lastChunk = true;
    }
  }
  const uint32_t limit = ChunkLimit(*state_, position, length);
  int stop = 0;
  state_->sink->Write(position, state_->buffer, length, limit, params_.context, &stop);
  state_->delivered += length;
  state_->position = position + length;
  if (stop || lastChunk) state_->requestStep = kStepComplete;
  return kContinue;
}

void CHttpAsync::OnStatus(void* handle, DWORD status, void* info, DWORD infoLength) {
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      CopyCallbackText(info, infoLength,
                       state_->redirected ? state_->serverAfter : state_->serverBefore,
                       kServerAddressUnits);
      break;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      InterlockedAdd32(&state_->responseChunkCount, 1);
      if (info && infoLength >= sizeof(DWORD)) {
        state_->speed.Add(UnixNow(), *static_cast<const DWORD*>(info));
      }
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      if (handle != nullptr && handle == requestHandle_) {
        requestHandle_ = nullptr;
        SetEvent(state_->closedEvent);
        DownloadJobTable::Instance().ForgetRetired(params_.context);
        Release();  // the handle's reference; the callback still holds one
      }
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      const DWORD error = result ? result->dwError : ERROR_INVALID_PARAMETER;
      state_->lastError = error;
      RunStateMachine(error);
      break;
    }
    case INTERNET_STATUS_REDIRECT:
      state_->redirected = 1;
      CopyCallbackText(info, infoLength, state_->redirectUrl, kRedirectUrlUnits);
      break;
    default:
      break;
  }
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
  HINTERNET request = state_->request;
  if (!request) {
    SetEvent(state_->closedEvent);
    return;
  }
  if (InternetCloseHandle(request) || GetLastError() != ERROR_IO_PENDING) {
    SetEvent(state_->closedEvent);
  }
}

int CHttpAsync::Wait(uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse) {
  // Both pending: the response is reported first.
  if (alsoResponse) {
    return WaitRequestEvents(state_->responseEvent, kWaitResponse, state_->endEvent, kWaitEnded,
                             true, timeoutMs, state_, snapshot);
  }
  return WaitRequestEvents(state_->endEvent, kWaitEnded, nullptr, kWaitFailed, false, timeoutMs,
                           state_, snapshot);
}

int CHttpAsync::Close() {
  if (closed_) return 1;
  closed_ = true;
  CloseRequest();
  CloseParentHandles();
  return 1;
}

}  // namespace net
