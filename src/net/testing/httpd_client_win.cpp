#include "net/testing/httpd_client_win.h"

#include <wininet.h>

#include <cstdlib>
#include <sstream>

#include "sys/scoped_handle_win.h"

namespace {

unsigned short PortFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? static_cast<unsigned short>(std::atoi(value)) : 0;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

HttpdClient::HttpdClient()
    : port_(PortFromEnvironment("HTTPD_PORT")), altPort_(PortFromEnvironment("HTTPD_ALT_PORT")) {}

std::wstring HttpdClient::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + Widen(path);
}

std::wstring HttpdClient::AltUrl(const std::string& path) const {
  return L"http://127.0.0.2:" + std::to_wstring(altPort_) + Widen(path);
}

bool HttpdClient::Request(const wchar_t* verb, const std::string& target, std::string* body,
                          const std::string& upload) {
  // WinINet may hand this request a pooled connection that a download of
  // the test before left open and the server has closed meanwhile; the
  // send then fails at once. Control requests are idempotent: try again.
  constexpr int kSendAttempts = 3;
  for (int attempt = 1; attempt <= kSendAttempts; ++attempt) {
    bool sent = false;
    const bool ok = RequestOnce(verb, target, body, upload, &sent);
    if (ok || sent) return ok;
    if (body != nullptr) body->clear();
    Sleep(100);
  }
  return false;
}

bool HttpdClient::RequestOnce(const wchar_t* verb, const std::string& target, std::string* body,
                              const std::string& upload, bool* sent) {
  ScopedInternetHandle session(
      InternetOpenW(L"httpd-control", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session.IsValid()) return false;
  ScopedInternetHandle connection(InternetConnectW(session.Get(), L"127.0.0.1", port_, nullptr,
                                                   nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  ScopedInternetHandle request(
      connection.IsValid()
          ? HttpOpenRequestW(connection.Get(), verb, Widen(target).c_str(), nullptr, nullptr,
                             nullptr, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
          : nullptr);
  // Not kept for reuse: a download after it would otherwise get this pooled
  // connection without connecting, and could not find its socket to end it.
  static const wchar_t kClose[] = L"Connection: close\r\n";
  bool ok = false;
  if (request.IsValid() && HttpSendRequestW(request.Get(), kClose, static_cast<DWORD>(-1),
                                            const_cast<char*>(upload.data()),
                                            static_cast<DWORD>(upload.size()))) {
    *sent = true;
    DWORD status = 0;
    DWORD size = sizeof(status);
    HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                   nullptr);
    char buffer[8192];
    DWORD read = 0;
    while (InternetReadFile(request.Get(), buffer, sizeof(buffer), &read) && read > 0) {
      if (body != nullptr) body->append(buffer, read);
    }
    ok = status == 200;
  }
  return ok;
}

bool HttpdClient::Control(const std::string& command) {
  return Request(L"POST", "/_ctl/" + command, nullptr);
}

bool HttpdClient::ServePattern(const std::string& path, std::uint32_t size, unsigned seed) {
  return Control("file?path=" + path + "&size=" + std::to_string(size) + "&seed=" + std::to_string(seed));
}

bool HttpdClient::ServeBytes(const std::string& path, const std::string& bytes) {
  return Request(L"POST", "/_ctl/file?path=" + path, nullptr, bytes);
}

bool HttpdClient::Rule(const std::string& path, const std::string& actions) {
  return Control("rule?path=" + path + "&" + actions);
}

std::uint64_t HttpdClient::BytesServed(const std::string& path) {
  std::uint64_t total = 0;
  for (const LogLine& line : Log(path)) total += line.bodyBytes;
  return total;
}

std::vector<HttpdClient::LogLine> HttpdClient::Log(const std::string& path) {
  std::string text;
  std::vector<LogLine> lines;
  if (!Request(L"GET", "/_ctl/log?path=" + path, &text)) return lines;
  std::istringstream input(text);
  std::string line;
  while (std::getline(input, line)) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    // seq listener conn method target range host user-agent status body-bytes
    // cookie
    if (fields.size() < 10) continue;
    LogLine entry;
    entry.listener = fields[1];
    entry.conn = std::atoi(fields[2].c_str());
    entry.method = fields[3];
    entry.target = fields[4];
    entry.range = fields[5];
    entry.host = fields[6];
    entry.userAgent = fields[7];
    entry.status = std::atoi(fields[8].c_str());
    entry.bodyBytes = std::strtoull(fields[9].c_str(), nullptr, 10);
    entry.cookie = fields.size() > 10 ? fields[10] : "-";
    lines.push_back(entry);
  }
  return lines;
}

std::string PatternBytes(std::uint32_t size, unsigned seed) {
  std::string data(size, '\0');
  for (std::uint32_t i = 0; i < size; ++i) {
    data[i] = static_cast<char>((i + 7 * (i >> 8) + 13 * (i >> 16) + seed) & 0xFF);
  }
  return data;
}
