#include "net/http_common_win.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "net/content_range.h"
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

}  // namespace

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

bool QueryResponseInfo(HINTERNET request, HttpResponseInfo* info) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  DWORD index = 0;
  info->status = 0;
  if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size,
                     &index)) {
    info->status = value;
  }
  size = sizeof(value);
  index = 0;
  info->contentLength = kNoLength;
  if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &size,
                     &index)) {
    info->contentLength = value;
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
  wchar_t text[256];
  size = sizeof(text);
  index = 0;
  info->rangeFirst = info->rangeLast = info->rangeTotal = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_RANGE, text, &size, &index)) return false;
  ContentRange range;
  if (!ParseContentRange(text, size / sizeof(wchar_t), &range)) return false;
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

int WaitRequestEvents(HANDLE first, int firstResult, HANDLE second, int secondResult,
                      bool alsoSecond, DWORD timeoutMs, const HttpRequestState* state,
                      HttpRequestState* snapshot) {
  HANDLE events[2] = {first, second};
  const DWORD count = alsoSecond ? 2 : 1;
  const DWORD waited = WaitForMultipleObjects(count, events, FALSE, timeoutMs);
  if (snapshot) *snapshot = *state;
  int result = kWaitFailed;
  if (waited == WAIT_OBJECT_0) {
    result = firstResult;
  } else if (count == 2 && waited == WAIT_OBJECT_0 + 1) {
    result = secondResult;
  } else if (waited == WAIT_TIMEOUT) {
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

CHttpRequestBase::CHttpRequestBase() : params_(DefaultRequestParams()), state_(NewRequestState()) {
  state_->params = params_;
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
  if (sink) {
    sink->OnClose();
    sink->Release();
  }
}

int CHttpRequestBase::SetStopAt(uint32_t lastOffset) {
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

HttpRequestState* NewRequestState() {
  HttpRequestState* state = new HttpRequestState;
  std::memset(state, 0, sizeof(*state));
  state->buffer = new uint8_t[kReceiveBufferSize];
  state->endEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  state->closedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  state->responseEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return state;
}

void DeleteRequestState(HttpRequestState* state) {
  if (!state) return;
  if (state->endEvent) CloseHandle(state->endEvent);
  if (state->closedEvent) CloseHandle(state->closedEvent);
  if (state->responseEvent) CloseHandle(state->responseEvent);
  delete[] state->buffer;
  delete state;
}

}  // namespace net
