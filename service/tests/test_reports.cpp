#include "test_reports.h"

#include <cstdio>

#include "report_builder.h"

namespace zstats {

std::vector<std::string> SyntheticBodies(int runs) {
  static const char* const kChannels[] = {"demo", "abc", "\xE6\xB8\xA0\xE9\x81\x93", ""};
  static const int kOs[][2] = {{130, 7601}, {101, 2600}, {111, 6001}, {0, 9200}};
  std::vector<std::string> bodies;
  for (int i = 0; i < runs; ++i) {
    char sid[40];
    std::snprintf(sid, sizeof(sid), "%08X-0000-4000-8000-%012X", i * 2654435761u, i);
    RunIdentity id{sid, kChannels[i % 4], "1.0.0.1", kOs[(i / 4) % 4][0], kOs[(i / 4) % 4][1]};
    int stage = (i * 7) % 10;
    int64_t bytes = 1000000 + 997 * i, ms = 100 + 37 * (i % 50);
    bodies.push_back(ReportBody(id, StartLine()));
    if (i % 3 == 0) bodies.push_back(ReportBody(id, StartLine()));  // a retry
    bodies.push_back(ReportBody(id, TraceLine(stage, bytes, ms, 0)));
    bodies.push_back(ReportBody(id, EndLine(stage)));
    bodies.push_back(ReportBody(id, TraceLine(stage, bytes, ms, 1)));
    if (i % 2 == 0) bodies.push_back(ReportBody(id, TraceLine(stage, bytes, ms, 2)));
    if (i % 5 == 0) bodies.push_back(ReportBody(id, TraceLine(stage, bytes, ms, 1)));  // a late, older map
  }
  return bodies;
}

std::vector<Report> ParseAll(const std::vector<std::string>& bodies) {
  std::vector<Report> reports;
  for (const std::string& b : bodies) reports.push_back(ParseReportBody(b).report);
  return reports;
}

}  // namespace zstats
