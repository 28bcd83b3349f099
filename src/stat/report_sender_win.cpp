#include <windows.h>
#include <wininet.h>

#include <cstdlib>

#include "stat/report_platform_win.h"
#include "stat/stat_text.h"

const wchar_t WinInetReportSender::kUserAgent[] =
    L"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; WOW64; Trident/4.0; Vexlo Installer)";

namespace {

const wchar_t kReportPath[] = L"/stat_report.fcgi";
const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_PRAGMA_NOCACHE;
const int kStatusWhenUnknown = 500;

// The three handles of one attempt, closed in reverse order.
class InternetHandles {
 public:
  ~InternetHandles() {
    if (request != nullptr) InternetCloseHandle(request);
    if (connection != nullptr) InternetCloseHandle(connection);
    if (session != nullptr) InternetCloseHandle(session);
  }
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
};

// Connect, send and receive time-outs of a session or a request handle.
void SetTimeouts(HINTERNET handle, DWORD timeoutMs) {
  InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
  InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
  InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
}

// The status code of a sent request; 500 when it cannot be read.
int QueryStatus(HINTERNET request) {
  char text[100] = {};
  DWORD size = sizeof(text);
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, text, &size, nullptr)) {
    return kStatusWhenUnknown;
  }
  text[sizeof(text) - 1] = '\0';
  return std::atoi(text);
}

PostOutcome Failed(int stage, int status) {
  PostOutcome outcome;
  outcome.stage = stage;
  outcome.lastError = GetLastError();
  outcome.status = status;
  return outcome;
}

}  // namespace

PostOutcome WinInetReportSender::Post(const StatServer& server, const std::string& form,
                                      std::uint32_t timeoutMs) {
  InternetHandles h;
  h.session = InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (h.session == nullptr) return Failed(0, 0);
  SetTimeouts(h.session, timeoutMs);
  h.connection = InternetConnectW(h.session, server.host.c_str(), server.port, nullptr, nullptr,
                                  INTERNET_SERVICE_HTTP, INTERNET_FLAG_RELOAD, 0);
  if (h.connection == nullptr) return Failed(1, 0);
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  h.request = HttpOpenRequestW(h.connection, L"POST", kReportPath, L"HTTP/1.1", nullptr,
                               acceptTypes, kRequestFlags, 0);
  if (h.request == nullptr) return Failed(4, 0);
  // The request inherits the session's time-outs on Windows; some WinINet
  // implementations (Wine's) only apply send and receive time-outs set on the
  // request itself, and without them a silent server blocks the post forever.
  SetTimeouts(h.request, timeoutMs);
  if (!HttpSendRequestA(h.request, kReportRequestHeaders, static_cast<DWORD>(-1),
                        const_cast<char*>(form.data()), static_cast<DWORD>(form.size()))) {
    return Failed(4, 0);
  }
  const int status = QueryStatus(h.request);
  if (status != 200) return Failed(5, status);
  PostOutcome outcome;
  outcome.stage = 6;
  outcome.lastError = GetLastError();
  outcome.status = 200;
  return outcome;
}
