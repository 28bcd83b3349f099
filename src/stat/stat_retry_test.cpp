// A record the server keeps rejecting, through the real WinINet code and the
// real one-second pauses.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "stat/collector_client_win.h"
#include "stat/report_platform_win.h"
#include "stat/stat_reporter.h"
#include "stat/stat_test_support.h"
#include "stat/stat_text.h"

namespace {

TEST(Retry, Status500GivesTenAttemptsWhoseOutcomesReachTheFinalMap) {
  CollectorClient collector;
  ASSERT_TRUE(collector.Control("status=500&reset=1"));
  const std::wstring wideHeader = TestHeaderLine("retry", "");
  const std::string header = WideToUtf8(wideHeader);
  Win32ReportPlatform platform;
  WinInetReportSender sender;
  StatReporter reporter(platform, sender);
  ASSERT_TRUE(reporter.Start(L"Functionwebinst", wideHeader, collector.server()));
  reporter.Enqueue(OneShotRecord(L"Start"));

  std::vector<Json::Value> reports = collector.WaitFor(
      header, [](const std::vector<Json::Value>& r) { return r.size() >= 10; }, 20000);
  ASSERT_EQ(reports.size(), 10u);
  ASSERT_TRUE(collector.Control("status=200"));
  ASSERT_TRUE(reporter.Stop());

  reports = collector.ReportsFor(header);
  ASSERT_EQ(reports.size(), 11u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(reports[i]["line"].asString(), "src=Start ");
    EXPECT_EQ(reports[i]["answer"].asString(), "500");
    if (i > 0) {
      // Each failed attempt is followed by a one-second pause.
      EXPECT_GE(reports[i]["time"].asDouble() - reports[i - 1]["time"].asDouble(), 0.9);
    }
  }
  // The final map carries the outcome of each of the ten attempts.
  std::string expected = "sthp=";
  for (int a = 1; a <= 10; ++a) {
    expected += (a > 1 ? "/5:[0-9]+:500:" : "5:[0-9]+:500:") + std::to_string(a) + ":" +
                std::to_string(a);
  }
  expected += " ";
  const std::string finalMap = reports[10]["line"].asString();
  EXPECT_TRUE(std::regex_match(finalMap, std::regex(expected))) << finalMap;
  EXPECT_EQ(reports[10]["answer"].asString(), "200");
  EXPECT_EQ(reporter.attempts(), 11);
  EXPECT_EQ(reporter.failures(), 10);
}

}  // namespace
