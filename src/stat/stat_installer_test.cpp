// A silent run of the real installer executable reports itself to the
// collector listening on the build's statistics port: the start record, the
// end record and the accumulated map with a running trace for every phase.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "build_config.h"
#include "stat/collector_client_win.h"
#include "sys/testing/test_files_win.h"
#include "sys/testing/test_process_win.h"

namespace {

std::wstring InstallerPath() { return WinePath(ZETORA_INSTALLER_WIDE_PATH); }

// Runs the installer; returns the exit code (STILL_ACTIVE when it did not
// end in time) and the diagnostics.
DWORD RunInstaller(const std::wstring& arguments, DWORD timeoutMs, std::string* diagnostics) {
  return RunProgram(L"\"" + InstallerPath() + L"\" " + arguments, timeoutMs, diagnostics);
}

// The running texts the driver wrote to its diagnostics, in order.
std::vector<std::string> RunningTexts(const std::string& diagnostics) {
  const std::string marker = "[CStat::LogReportRunning] - ";
  std::vector<std::string> texts;
  std::istringstream lines(diagnostics);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, marker.size(), marker) == 0) texts.push_back(line.substr(marker.size()));
  }
  return texts;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

// The value of key in a formatted line ("key=value key=value ").
std::string ValueOf(const std::string& line, const std::string& key) {
  for (const std::string& pair : Split(line, ' ')) {
    if (pair.compare(0, key.size() + 1, key + "=") == 0) return pair.substr(key.size() + 1);
  }
  return "";
}

TEST(InstallerStatistics, SilentRunDeliversStartEndAndEveryPhase) {
  CollectorClient collector;
  ASSERT_NE(collector.server().port, 0);
  ASSERT_TRUE(collector.Control("status=200"));
  // Other runs may report to the same port; this run's tag picks its reports.
  const std::string tag = std::to_string(GetCurrentProcessId()) + std::to_string(GetTickCount());
  std::string diagnostics;
  const DWORD code = RunInstaller(
      L"/S -tn stattest -rnd " + std::wstring(tag.begin(), tag.end()), 120000, &diagnostics);
  ASSERT_EQ(code, 5u) << diagnostics;  // the package is missing: end reason 5

  std::vector<Json::Value> reports;
  for (const Json::Value& r : collector.Reports()) {
    const std::string header = r["header"].asString();
    if (header.find(" From=stattest ") != std::string::npos &&
        header.find(" Rnd=" + tag + " ") != std::string::npos) {
      reports.push_back(r);
    }
  }
  ASSERT_GE(reports.size(), 3u) << diagnostics;
  const std::string header = reports[0]["header"].asString();
  const std::string prefix = "Op=Functionwebinst Type=vxdowninstall2 Version=" +
                             std::string(build_config::kVersionText) + " Sid=";
  EXPECT_EQ(header.compare(0, prefix.size(), prefix), 0) << header;

  std::vector<std::string> oneShots;
  for (const Json::Value& r : reports) {
    EXPECT_EQ(r["header"].asString(), header);
    const std::string line = r["line"].asString();
    if (ValueOf(line, "src") != "") oneShots.push_back(line);
  }
  ASSERT_EQ(oneShots.size(), 2u);
  EXPECT_EQ(oneShots[0], "src=Start t_diff=0 ");
  EXPECT_EQ(ValueOf(oneShots[1], "src"), "End");
  EXPECT_EQ(ValueOf(oneShots[1], "Stat"), "999");
  EXPECT_NE(ValueOf(oneShots[1], "t_dlc"), "");

  // The last report is the final map: every running text of the run, in
  // order, plus the post-install check (19) that is queued without a line.
  const std::string finalMap = reports.back()["line"].asString();
  const std::vector<std::string> running = RunningTexts(diagnostics);
  ASSERT_FALSE(running.empty()) << diagnostics;
  const std::vector<std::string> traced = Split(ValueOf(finalMap, "p_trc"), '/');
  std::size_t next = 0;
  for (const std::string& text : running) {
    while (next < traced.size() && traced[next] != text) ++next;
    EXPECT_LT(next, traced.size()) << "missing " << text << " in " << finalMap;
  }
  // The run ends (the package is missing on the test server) with its end
  // phase as the last running trace.
  ASSERT_FALSE(traced.empty()) << finalMap;
  EXPECT_EQ(traced.back().compare(0, 4, "999:"), 0) << finalMap;
  EXPECT_NE(ValueOf(finalMap, "sthp"), "") << finalMap;
}

}  // namespace
