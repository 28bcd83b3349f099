// Fuzz target: the upload form and report parser, and the derived columns
// of whatever it accepts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report_form.h"
#include "run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line is the Content-Type header, the rest the form.
  size_t eol = input.find('\n');
  std::string_view content_type = eol == std::string_view::npos ? input : input.substr(0, eol);
  std::string_view form = eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1);
  for (const zstats::ParseResult& parsed : {zstats::ParseReportForm(content_type, form), zstats::ParseReportBody(input)}) {
    if (!parsed.ok) continue;
    if (parsed.report.header.sid.empty()) __builtin_trap();
    zstats::RunRow row;
    zstats::MergeReport(parsed.report, 1700000000, &row);
    // The accumulated map as a whole run's traces, and a second send of it.
    row.traces = parsed.report.line;
    zstats::DeriveColumns(&row);
    zstats::MergeReport(parsed.report, 1700000001, &row);
    if (row.funnel_stage < 0 || row.funnel_stage >= zstats::kStageCount) __builtin_trap();
    if (row.speed_bucket < -1 || row.speed_bucket >= zstats::kSpeedBucketCount) __builtin_trap();
  }
  return 0;
}
