// How reports fold into one run and what is derived from them.
#include <gtest/gtest.h>

#include "report_builder.h"
#include "report_form.h"
#include "run.h"

namespace zstats {
namespace {

Report Parse(const RunIdentity& run, const std::string& line) {
  ParseResult r = ParseReportBody(ReportBody(run, line));
  EXPECT_TRUE(r.ok) << r.error << " in " << line;
  return r.report;
}

TEST(RunTest, EachFunnelStageIsDerivedFromTheRunsReports) {
  struct Case {
    int stage;
    int64_t trust, speed_bucket;
    bool installed;
  } cases[] = {
      {kStageNone, -1, -1, false},        {kStageConfiguration, -1, -1, false}, {kStageModeNotice, -1, -1, false},
      {kStageChoice, -1, -1, false},      {kStageAttachment, -1, -1, false},    {kStagePackage, 0, 4, false},
      {kStageTrust, 1, 4, false},         {kStageGo, 1, 4, false},              {kStageSetup, 1, 4, false},
      {kStageInstalled, 1, 4, true},
  };
  for (const Case& c : cases) {
    RunIdentity id{"SID-" + std::to_string(c.stage), "demo"};
    RunRow row;
    MergeReport(Parse(id, StartLine()), 1000, &row);
    MergeReport(Parse(id, EndLine(c.stage)), 1001, &row);
    // 3,000,000 bytes in 1,000 ms: 3 MB/s, the 2-5 bucket.
    MergeReport(Parse(id, TraceLine(c.stage, 3000000, 1000, 1)), 1002, &row);
    EXPECT_EQ(row.funnel_stage, c.stage) << FunnelStageName(c.stage);
    EXPECT_EQ(row.trust, c.trust) << FunnelStageName(c.stage);
    EXPECT_EQ(row.speed_bucket, c.speed_bucket) << FunnelStageName(c.stage);
    EXPECT_EQ(row.installed, c.installed) << FunnelStageName(c.stage);
    EXPECT_EQ(row.has_start && row.has_end, true);
    EXPECT_EQ(row.fail_csgn.empty(), c.installed || c.stage < kStagePackage) << FunnelStageName(c.stage);
    EXPECT_EQ(row.first_seen, 1000);
    EXPECT_EQ(row.last_seen, 1002);
  }
}

TEST(RunTest, TheLongestAccumulatedMapIsKept) {
  RunIdentity id{"SID-MAPS", "demo"};
  RunRow row;
  std::string first = TraceLine(kStageTrust, 1000, 10, 1), second = TraceLine(kStageInstalled, 1000, 10, 2);
  EXPECT_TRUE(MergeReport(Parse(id, first), 10, &row));
  EXPECT_TRUE(MergeReport(Parse(id, second), 11, &row));
  // A late, shorter send and a repeat of the kept one change nothing.
  EXPECT_FALSE(MergeReport(Parse(id, first), 12, &row));
  EXPECT_FALSE(MergeReport(Parse(id, second), 13, &row));
  EXPECT_EQ(row.traces + " ", second);
  EXPECT_EQ(row.last_step, 19);
  EXPECT_EQ(row.fail_sthp, "6:0:200");
}

TEST(RunTest, DownloadTraceAndNames) {
  struct Case {
    std::string dstp;
    int64_t bytes, ms, trust;
  } cases[] = {
      {"uef;cks1", 0, 0, 1},
      {"0:ds0:0,0;0:sts;9:cofm0:52428800;9:dse0:0,9000;;cks1", 52428800, 9000, 1},
      {"0:ds0:0,0;0:sts;9:cofm0:100;9:dse0:1287,9000;;cks0", 0, 0, 0},   // failed download: no speed
      {"0:ds0:0,0;5:dmjfru:http://h/a/b;9:cofm0:5;9:dse0:0,0;", 0, 0, -1},  // zero time: no speed
      {"garbage:dse0:x;cofm0:", 0, 0, -1},
  };
  for (const Case& c : cases) {
    RunRow row;
    row.traces = "dstp=" + c.dstp;
    DeriveColumns(&row);
    EXPECT_EQ(row.pkg_bytes, c.bytes) << c.dstp;
    EXPECT_EQ(row.pkg_ms, c.ms) << c.dstp;
    EXPECT_EQ(row.trust, c.trust) << c.dstp;
  }
  EXPECT_EQ(OsName(130, 7601), "Windows 7");
  EXPECT_EQ(OsName(111, 6001), "Windows Vista SP1");
  EXPECT_EQ(OsName(0, 9200), "Windows 8 or later");
  EXPECT_EQ(EndResultName(-1), "no end record");
  EXPECT_EQ(SpeedBucketLabel(0), "< 0.25");
  EXPECT_EQ(SpeedBucketLabel(kSpeedBucketCount - 1), ">= 50");
}

}  // namespace
}  // namespace zstats
