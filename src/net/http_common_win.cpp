#include "net/http_common_win.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "net/content_range.h"
#include "net/memory_pool.h"
#include "sys/diag.h"

namespace net {

const wchar_t kMozillaUserAgent[] =
    L"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; WOW64; Trident/4.0; Vexlo Gui "
    L"Installer Zetora)";

namespace {

constexpr DWORD kCanonicalUnits = 2084;

bool CopyPart(const wchar_t* text, DWORD length, wchar_t* out, size_t units) {
  if (length >= units) return false;
  std::memcpy(out, text, length * sizeof(wchar_t));
  out[length] = 0;
  return true;
}

// Waits longer than this (the first request's, of a second) are not cut
// short: their idle ends are traced.
constexpr DWORD kNewsCutsWaitsUpToMs = 50;

}  // namespace

// Set whenever any request reports its response or its end. A short wait
// for one request ends early on it: the download task polls its requests
// one after another, and a response of the next one in line would
// otherwise wait for the polls before it while its body piles up in the
// queue, unwritten.
HANDLE RequestNewsEvent() {
  static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}

bool CrackUrlInto(const std::wstring& url, HttpRequestParams* params) {
  std::vector<wchar_t> canonical(kCanonicalUnits);
  DWORD length = static_cast<DWORD>(canonical.size());
  if (!InternetCanonicalizeUrlW(url.c_str(), canonical.data(), &length, ICU_BROWSER_MODE)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    canonical.resize(length + 1);
    length = static_cast<DWORD>(canonical.size());
    if (!InternetCanonicalizeUrlW(url.c_str(), canonical.data(), &length, ICU_BROWSER_MODE)) {
      return false;
    }
  }
  URL_COMPONENTSW parts;
  std::memset(&parts, 0, sizeof(parts));
  parts.dwStructSize = sizeof(parts);
  // Zero buffers with nonzero lengths: WinINet points into the input.
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(canonical.data(), 0, 0, &parts)) return false;
  if (!parts.lpszHostName || !CopyPart(parts.lpszHostName, parts.dwHostNameLength, params->host,
                                       kUrlUnits)) {
    return false;
  }
  std::wstring path;
  if (parts.lpszUrlPath) path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  // A fragment names a place inside the document; it is never sent.
  const std::wstring::size_type fragment = path.find(L'#');
  if (fragment != std::wstring::npos) path.erase(fragment);
  if (path.empty()) path = L"/";
  if (!CopyPart(path.c_str(), static_cast<DWORD>(path.size()), params->path, kUrlUnits)) {
    return false;
  }
  params->port = parts.nPort;
  return true;
}

namespace {

// The raw headers start with a real HTTP/1.x status line and carry at least
// one header. WinINet stands in "HTTP/1.0 200 OK" with no headers for a
// reply that had no status line at all, so a header-less reply is refused
// as well: no HTTP/1.x server answers without a single header.
bool IsHttpResponse(HINTERNET request) {
  std::vector<wchar_t> raw(4096);
  DWORD size = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
  DWORD index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, &index)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    raw.resize(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
    index = 0;
    if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, &index)) {
      return false;
    }
  }
  const std::wstring text(raw.data(), size / sizeof(wchar_t));
  return IsHttpStatusHead(text);
}

}  // namespace

bool QueryResponseInfo(HINTERNET request, HttpResponseInfo* info, bool* sizeTooLarge) {
  *sizeTooLarge = false;
  DWORD value = 0;
  DWORD size = sizeof(value);
  DWORD index = 0;
  info->status = 0;
  if (IsHttpResponse(request) &&
      HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size,
                     &index)) {
    info->status = value;
  }
  wchar_t text[256];
  size = sizeof(text);
  index = 0;
  info->contentLength = kNoLength;
  if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) {
    uint32_t length = 0;
    switch (ParseContentLength(text, size / sizeof(wchar_t), &length)) {
      case LengthParse::kOk: info->contentLength = length; break;
      case LengthParse::kTooLarge: *sizeTooLarge = true; break;
      case LengthParse::kMalformed: break;
    }
  }
  static_assert(sizeof(SYSTEMTIME) == sizeof(SystemTime), "SYSTEMTIME layout");
  size = sizeof(SYSTEMTIME);
  index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_DATE | HTTP_QUERY_FLAG_SYSTEMTIME, &info->date, &size,
                      &index)) {
    std::memset(&info->date, 0, sizeof(info->date));
  }
  size = sizeof(SYSTEMTIME);
  index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME,
                      &info->lastModified, &size, &index)) {
    std::memset(&info->lastModified, 0, sizeof(info->lastModified));
  }
  size = sizeof(text);
  index = 0;
  info->rangeFirst = info->rangeLast = info->rangeTotal = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_RANGE, text, &size, &index)) return false;
  const std::size_t units = size / sizeof(wchar_t);
  if (ContentRangeTooLarge(text, units)) *sizeTooLarge = true;
  ContentRange range;
  if (!ParseContentRange(text, units, &range)) return false;
  info->rangeFirst = range.first;
  info->rangeLast = range.last;
  info->rangeTotal = range.total;
  return true;
}

void CopyCallbackText(const void* info, DWORD length, wchar_t* out, size_t units) {
  out[0] = 0;
  if (!info || length == 0 || units == 0) return;
  if (IsTextUnicode(info, static_cast<int>(length), nullptr)) {
    const wchar_t* text = static_cast<const wchar_t*>(info);
    size_t n = 0;
    while (n + 1 < units && n < length / sizeof(wchar_t) && text[n]) {
      out[n] = text[n];
      ++n;
    }
    out[n] = 0;
    return;
  }
  const char* text = static_cast<const char*>(info);
  const int bytes = static_cast<int>(strnlen(text, length));
  const int written = MultiByteToWideChar(CP_ACP, 0, text, bytes, out, static_cast<int>(units - 1));
  out[written > 0 ? written : 0] = 0;
}

int CHttpRequestBase::WaitEvents(HANDLE first, int firstResult, HANDLE second,
                                 int secondResult, bool alsoSecond, DWORD timeoutMs,
                                 HttpRequestState* snapshot) {
  HANDLE events[3] = {first, second, nullptr};
  const DWORD count = alsoSecond ? 2 : 1;
  std::atomic<int>* pending[2] = {PendingSignals(first), PendingSignals(second)};
  const bool nothingPending = pending[0]->load() == 0 && (count == 1 || pending[1]->load() == 0);
  // Another request's news ends a short wait as a time-out (its own events
  // come first in the list, so they win when both are set).
  const HANDLE news = RequestNewsEvent();
  const bool cutByNews = news != nullptr && timeoutMs <= kNewsCutsWaitsUpToMs;
  if (cutByNews) events[count] = news;
  const DWORD waited =
      timeoutMs == 0 && nothingPending
          ? WAIT_TIMEOUT
          : WaitForMultipleObjects(count + (cutByNews ? 1 : 0), events, FALSE, timeoutMs);
  if (waited == WAIT_OBJECT_0 || (count == 2 && waited == WAIT_OBJECT_0 + 1)) {
    pending[waited - WAIT_OBJECT_0]->fetch_sub(1);
  }
  if (snapshot) {
    AutoLock lock(*lock_);
    *snapshot = *state_;
  }
  int result = kWaitFailed;
  if (waited == WAIT_OBJECT_0) {
    result = firstResult;
  } else if (count == 2 && waited == WAIT_OBJECT_0 + 1) {
    result = secondResult;
  } else if (waited == WAIT_TIMEOUT || (cutByNews && waited == WAIT_OBJECT_0 + count)) {
    return kWaitTimedOut;
  } else {
    return kWaitFailed;
  }
  DiagPrintf(result == kWaitEnded ? L"EndJob!\n" : L"Resp!\n");
  return result;
}

uint32_t ChunkLimit(const HttpRequestState& state, uint32_t position, uint32_t length) {
  if (state.stopAtSet && uint64_t{position} + length > uint64_t{state.stopAt} + 1) {
    return state.stopAt;
  }
  return 0;
}

CHttpRequestBase::CHttpRequestBase()
    : params_(DefaultRequestParams()),
      state_(NewRequestState()),
      lock_(new Lock),
      endEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      closedEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      responseEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  state_->params = params_;
  state_->endEvent = endEvent_.Get();
  state_->closedEvent = closedEvent_.Get();
  state_->responseEvent = responseEvent_.Get();
}

CHttpRequestBase::~CHttpRequestBase() = default;

void CHttpRequestBase::SignalEnd(DWORD error) {
  {
    AutoLock lock(*lock_);
    state_->lastError = error;
  }
  endSignals_.fetch_add(1);
  SetEvent(endEvent_.Get());
  SetEvent(RequestNewsEvent());
}

void CHttpRequestBase::SignalResponse() {
  responseSignals_.fetch_add(1);
  SetEvent(responseEvent_.Get());
  SetEvent(RequestNewsEvent());
}

std::atomic<int>* CHttpRequestBase::PendingSignals(HANDLE event) {
  return event == endEvent_.Get() ? &endSignals_ : &responseSignals_;
}

bool CHttpRequestBase::FillParams(const std::wstring& url, uint32_t useRange,
                                  uint32_t rangeFirst, uint32_t rangeLast, uint32_t jobId) {
  state_->startTick = GetTickCount();
  params_.context = jobId;
  state_->params.context = jobId;
  if (url.size() >= kUrlUnits || !CrackUrlInto(url, &params_)) {
    state_->lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::memcpy(params_.url, url.c_str(), (url.size() + 1) * sizeof(wchar_t));
  params_.useRange = useRange;
  params_.rangeFirst = rangeFirst;
  params_.rangeLast = rangeLast;
  state_->params = params_;
  return true;
}

void CHttpRequestBase::FreeState() {
  IOutFile* sink = state_->sink;
  DeleteRequestState(state_);
  state_ = nullptr;
  delete lock_;
  lock_ = nullptr;
  if (sink) {
    sink->OnClose();
    sink->Release();
  }
}

int CHttpRequestBase::SetStopAt(uint32_t lastOffset) {
  AutoLock lock(*lock_);
  state_->stopAt = lastOffset;
  state_->stopAtSet = 1;
  return 1;
}

int CHttpRequestBase::SetTag(uint32_t value) {
  state_->tag = value;
  return 1;
}

int CHttpRequestBase::RequestAbort() {
  state_->abortRequested = 1;
  return 1;
}

uint32_t UnixNow() { return static_cast<uint32_t>(std::time(nullptr)); }

namespace {

// Receive buffers of finished requests, kept for the next ones: a download
// makes a request per piece.
MemoryPool& Buffers() {
  static MemoryPool* pool = new MemoryPool(16);  // never destroyed: requests end at exit too
  return *pool;
}

}  // namespace

HttpRequestState* NewRequestState() {
  HttpRequestState* state = new HttpRequestState;
  std::memset(state, 0, sizeof(*state));
  void* buffer = Buffers().Take();
  state->buffer = static_cast<uint8_t*>(buffer ? buffer : ::operator new(kReceiveBufferSize));
  return state;
}

void DeleteRequestState(HttpRequestState* state) {
  if (!state) return;
  if (state->buffer && !Buffers().Give(state->buffer)) ::operator delete(state->buffer);
  delete state;
}

}  // namespace net
