// A statistics server that accepts connections and never answers: a single
// post ends at its time-out, and Stop returns within its bound whatever the
// worker was doing.
#include <windows.h>

#include <gtest/gtest.h>

#include "stat/collector_client_win.h"
#include "stat/report_platform_win.h"
#include "stat/stat_reporter.h"
#include "stat/stat_test_support.h"
#include "stat/stat_text.h"

namespace {

TEST(StopBound, PostToASilentServerEndsAtItsTimeout) {
  CollectorClient collector;
  ASSERT_TRUE(collector.Control("status=hang"));
  WinInetReportSender sender;
  const DWORD start = GetTickCount();
  const PostOutcome outcome =
      sender.Post(collector.server(), BuildMultipartForm("Functionwebinst", "x\r\n"), 1500);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(outcome.stage, 4);
  EXPECT_NE(outcome.lastError, 0u);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_LT(elapsed, 5000u);
}

TEST(StopBound, StopReturnsWithinTheBoundAgainstASilentServer) {
  CollectorClient collector;
  ASSERT_TRUE(collector.Control("status=hang&reset=1"));
  // Heap-allocated: when Stop gives up on a worker still inside a network
  // call, the worker keeps using them until the process ends.
  const std::wstring wideHeader = TestHeaderLine("stop", "");
  const std::string header = WideToUtf8(wideHeader);
  Win32ReportPlatform* platform = new Win32ReportPlatform;
  WinInetReportSender* sender = new WinInetReportSender;
  StatReporter* reporter = new StatReporter(*platform, *sender);
  ASSERT_TRUE(reporter->Start(L"Functionwebinst", wideHeader, collector.server()));
  reporter->Enqueue(OneShotRecord(L"End"));
  ASSERT_EQ(collector
                .WaitFor(header, [](const std::vector<Json::Value>& r) { return !r.empty(); },
                         5000)
                .size(),
            1u)
      << "the record was not posted";

  const DWORD start = GetTickCount();
  const bool ended = reporter->Stop();
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_LE(elapsed, 15500u);
  if (ended) {
    delete reporter;
    delete sender;
    delete platform;
  }
}

}  // namespace
