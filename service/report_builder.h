// Report bodies and upload forms as the installer writes them, for the load
// generator, the tests and imports of synthetic runs.
#pragma once

#include <cstdint>
#include <string>

namespace zstats {

constexpr const char* kFormBoundary = "--MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG";
constexpr const char* kFormContentType = "multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG";

struct RunIdentity {
  std::string sid;
  std::string channel;
  std::string version = "1.0.0.1";
  int os_code = 130;
  int os_build = 7601;
  std::string time = "2013_05_06_07_08_09";
};

// "<header> <line>\r\n", the line being "key=value " pairs.
std::string ReportBody(const RunIdentity& run, const std::string& line);
// The multipart form around a body, byte for byte as the installer sends it.
std::string ReportForm(const std::string& body);

// Record lines of a synthetic run that stops at `stage` (a FunnelStage; 9 =
// installed): the start record, the end record and the accumulated map.
std::string StartLine();
std::string EndLine(int stage);
std::string TraceLine(int stage, int64_t package_bytes, int64_t package_ms, int sends_so_far);

}  // namespace zstats
