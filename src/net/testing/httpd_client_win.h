#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sys/testing/test_files_win.h"

// Scripts tools/testhttpd.py from a Windows test: its address comes from the
// HTTPD_* variables that the server reported when it started.
class HttpdClient {
 public:
  struct LogLine {
    std::string listener;  // "main" or "alt"
    int conn = 0;          // numbers the TCP connections
    std::string method;
    std::string target;
    std::string range;  // "-" when the request had none
    std::string host;
    std::string userAgent;
    int status = 0;
    std::uint64_t bodyBytes = 0;
    std::string cookie;  // the request's Cookie header, "-" when it had none
  };

  HttpdClient();
  bool ok() const { return port_ != 0; }
  unsigned short port() const { return port_; }
  unsigned short altPort() const { return altPort_; }
  // "http://127.0.0.1:port" + path, or on the second address.
  std::wstring Url(const std::string& path) const;
  std::wstring AltUrl(const std::string& path) const;

  // POST /_ctl/<command>; true on status 200.
  bool Control(const std::string& command);
  bool Reset() { return Control("reset"); }
  bool ServePattern(const std::string& path, std::uint32_t size, unsigned seed = 0);
  // Serves bytes (not empty) at path.
  bool ServeBytes(const std::string& path, const std::string& bytes);
  bool Rule(const std::string& path, const std::string& actions);
  std::vector<LogLine> Log(const std::string& path);
  // Body bytes sent for path, all requests together.
  std::uint64_t BytesServed(const std::string& path);

 private:
  bool Request(const wchar_t* verb, const std::string& target, std::string* body,
               const std::string& upload = std::string());
  // One try; *sent tells whether the request reached the server.
  bool RequestOnce(const wchar_t* verb, const std::string& target, std::string* body,
                   const std::string& upload, bool* sent);

  unsigned short port_ = 0;
  unsigned short altPort_ = 0;
};

// The bytes the server's pattern files hold.
std::string PatternBytes(std::uint32_t size, unsigned seed = 0);
