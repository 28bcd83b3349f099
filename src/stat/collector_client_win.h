#pragma once

// The test side of the loopback statistics collector (tools/stat_collector.py):
// its ports, its control requests and the reports it received.
#include <json/json.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "stat/report_platform.h"

class CollectorClient {
 public:
  // Reads STAT_PORT (and STAT_CLOSED_PORT when present) from the environment.
  CollectorClient();

  StatServer server() const { return {L"127.0.0.1", port_}; }
  StatServer closedServer() const { return {L"127.0.0.1", closedPort_}; }

  // GET /_control?<query>, e.g. "status=500&reset=1".
  bool Control(const std::string& query);
  // Every report received so far.
  std::vector<Json::Value> Reports();
  // The reports whose header line is header.
  std::vector<Json::Value> ReportsFor(const std::string& header);
  // Polls ReportsFor(header) until done(reports) or the time is up.
  std::vector<Json::Value> WaitFor(const std::string& header,
                                   const std::function<bool(const std::vector<Json::Value>&)>& done,
                                   unsigned timeoutMs);

 private:
  bool Get(const std::string& pathAndQuery, std::string* body);

  std::uint16_t port_ = 0;
  std::uint16_t closedPort_ = 0;
};

// GET http://127.0.0.1:<port><pathAndQuery> with extra request headers
// ("Name: value\r\n" each): the body and, when status is given, the status
// code. false when no answer came.
bool LoopbackGet(std::uint16_t port, const std::string& pathAndQuery, const std::string& headers,
                 std::string* body, unsigned* status = nullptr);

// A header line whose Sid and Rnd name the test, so that each test finds its
// own reports among those the collector received.
std::wstring TestHeaderLine(const std::string& sid, const std::string& rnd);

std::string ToHex(const std::string& bytes);
// The value of a header of a recorded request ("" when absent).
std::string RequestHeader(const Json::Value& report, const std::string& name);
