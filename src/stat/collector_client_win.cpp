#include "stat/collector_client_win.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <memory>

namespace {

std::uint16_t PortFromEnvironment(const wchar_t* name) {
  wchar_t value[16] = {};
  if (GetEnvironmentVariableW(name, value, 16) == 0) return 0;
  return static_cast<std::uint16_t>(std::wcstoul(value, nullptr, 10));
}

}  // namespace

CollectorClient::CollectorClient()
    : port_(PortFromEnvironment(L"STAT_PORT")), closedPort_(PortFromEnvironment(L"STAT_CLOSED_PORT")) {}

bool LoopbackGet(std::uint16_t port, const std::string& pathAndQuery, const std::string& headers,
                 std::string* body, unsigned* status) {
  HINTERNET session = InternetOpenW(L"collector-client", INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                    nullptr, 0);
  if (session == nullptr) return false;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + pathAndQuery;
  HINTERNET request = InternetOpenUrlA(session, url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                       static_cast<DWORD>(headers.size()),
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  bool ok = false;
  if (request != nullptr) {
    char buffer[8192];
    DWORD read = 0;
    body->clear();
    while (InternetReadFile(request, buffer, sizeof(buffer), &read) && read > 0) {
      body->append(buffer, read);
    }
    if (status != nullptr) {
      DWORD code = 0, size = sizeof(code);
      *status = HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)
                    ? code : 0;
    }
    ok = true;
    InternetCloseHandle(request);
  }
  InternetCloseHandle(session);
  return ok;
}

bool CollectorClient::Get(const std::string& pathAndQuery, std::string* body) {
  return LoopbackGet(port_, pathAndQuery, "", body);
}

bool CollectorClient::Control(const std::string& query) {
  std::string body;
  return Get("/_control?" + query, &body) && body == "ok";
}

std::vector<Json::Value> CollectorClient::Reports() {
  std::vector<Json::Value> reports;
  std::string body;
  if (!Get("/_log", &body)) return reports;
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors)) return reports;
  for (const Json::Value& report : root["reports"]) reports.push_back(report);
  return reports;
}

std::vector<Json::Value> CollectorClient::ReportsFor(const std::string& header) {
  std::vector<Json::Value> matching;
  for (const Json::Value& report : Reports()) {
    if (report["header"].isString() && report["header"].asString() == header) {
      matching.push_back(report);
    }
  }
  return matching;
}

std::vector<Json::Value> CollectorClient::WaitFor(
    const std::string& header, const std::function<bool(const std::vector<Json::Value>&)>& done,
    unsigned timeoutMs) {
  const DWORD start = GetTickCount();
  std::vector<Json::Value> reports = ReportsFor(header);
  while (!done(reports) && GetTickCount() - start < timeoutMs) {
    Sleep(100);
    reports = ReportsFor(header);
  }
  return reports;
}

std::wstring TestHeaderLine(const std::string& sid, const std::string& rnd) {
  const std::string header = "Op=Functionwebinst Type=vxdowninstall2 Version=1.0.0.1 Sid=" + sid +
                             " From=\xE6\xB8\xA0\xE9\x81\x93 Mode=Clickonce PcCode= Uinf= "
                             "Time=2013_05_06_07_08_09 Rnd=" + rnd + " Osv=130 Osvi=7601";
  const int length = MultiByteToWideChar(CP_UTF8, 0, header.data(),
                                         static_cast<int>(header.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, header.data(), static_cast<int>(header.size()), &wide[0], length);
  return wide;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex.push_back(digits[c >> 4]);
    hex.push_back(digits[c & 15]);
  }
  return hex;
}

std::string RequestHeader(const Json::Value& report, const std::string& name) {
  for (const Json::Value& pair : report["headers"]) {
    if (_stricmp(pair[0].asCString(), name.c_str()) == 0) return pair[1].asString();
  }
  return "";
}
