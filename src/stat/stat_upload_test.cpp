// Reports sent by the real WinINet code to the loopback collector, which
// parses each form with a standard multipart parser.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "stat/collector_client_win.h"
#include "stat/report_platform_win.h"
#include "stat/stat_reporter.h"
#include "stat/stat_test_support.h"
#include "stat/stat_text.h"

namespace {

// A header line of its own per test.
std::wstring TestHeader(const char* rnd) {
  return TestHeaderLine(::testing::UnitTest::GetInstance()->current_test_info()->name(), rnd);
}

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(collector.server().port, 0) << "STAT_PORT not set";
    ASSERT_TRUE(collector.Control("status=200"));
  }

  CollectorClient collector;
  Win32ReportPlatform platform;
  WinInetReportSender sender;
};

TEST_F(UploadTest, FormArrivesWithEveryFieldAndTheBodyUnchanged) {
  const std::wstring header = TestHeader("form");
  StatReporter reporter(platform, sender);
  ASSERT_TRUE(reporter.Start(L"Functionwebinst", header, collector.server()));
  reporter.Enqueue(OneShotRecord(L"\x6E20\x9053"));
  ASSERT_TRUE(reporter.Stop());

  const std::string headerUtf8 = WideToUtf8(header);
  const std::string line = "src=\xE6\xB8\xA0\xE9\x81\x93 ";
  const std::string body = headerUtf8 + " " + line + "\r\n";
  Json::Value report;
  for (const Json::Value& r : collector.ReportsFor(headerUtf8)) {
    if (r["line"].asString() == line) report = r;
  }
  ASSERT_TRUE(report.isObject()) << "the record did not arrive";

  EXPECT_EQ(report["method"].asString(), "POST");
  EXPECT_EQ(report["path"].asString(), "/stat_report.fcgi");
  EXPECT_EQ(report["request_version"].asString(), "HTTP/1.1");
  EXPECT_EQ(RequestHeader(report, "Content-Type"),
            "multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG");
  EXPECT_EQ(RequestHeader(report, "User-Agent"),
            "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; WOW64; Trident/4.0; Vexlo Installer)");
  EXPECT_EQ(RequestHeader(report, "Connection"), "close");

  const Json::Value& fields = report["fields"];
  Json::Value names(Json::arrayValue);
  for (const char* n : {"product_name", "product_version", "statistics_type", "security_level",
                        "raw_file_size", "userfile"}) {
    names.append(n);
  }
  EXPECT_EQ(report["part_names"], names);
  EXPECT_EQ(fields["product_name"].asString(), "browser");
  EXPECT_EQ(fields["product_version"].asString(), "1.0");
  EXPECT_EQ(fields["statistics_type"].asString(), "Functionwebinst");
  EXPECT_EQ(fields["security_level"].asString(), "4");
  EXPECT_EQ(fields["raw_file_size"].asString(), std::to_string(body.size()));
  EXPECT_EQ(report["body_length"].asUInt(), body.size());
  EXPECT_EQ(report["filenames"]["userfile"].asString(), "data.dat");
  EXPECT_EQ(report["content_types"]["userfile"].asString(), "application/x-gzip");
  EXPECT_EQ(report["body_hex"].asString(), ToHex(body));
  // WinINet sent the form exactly as built.
  EXPECT_EQ(report["raw_hex"].asString(), ToHex(BuildMultipartForm("Functionwebinst", body)));
  EXPECT_EQ(report["content_length"].asUInt(), BuildMultipartForm("Functionwebinst", body).size());
  EXPECT_EQ(report["defects"].size(), 0u) << report["defects"].toStyledString();

  // The accepted post was traced as stage 6 with status 200.
  const std::string map = WideToUtf8(reporter.AccumulatedText());
  EXPECT_TRUE(std::regex_match(map, std::regex("sthp=6:[0-9]+:200:0:1 "))) << map;
}

TEST_F(UploadTest, UnreachablePortGivesStage1Or4AndCountsTheFailure) {
  ASSERT_NE(collector.closedServer().port, 0) << "STAT_CLOSED_PORT not set";
  StatReporter::StopBound bound;
  bound.finalSendsMs = 1500;
  StatReporter reporter(platform, sender, bound);
  ASSERT_TRUE(reporter.Start(L"Functionwebinst", TestHeader("closed"), collector.closedServer()));
  reporter.FlushNow();
  const DWORD start = GetTickCount();
  while (reporter.AccumulatedText().empty() && GetTickCount() - start < 10000) Sleep(50);
  ASSERT_TRUE(reporter.Stop());

  std::smatch first;
  const std::string map = WideToUtf8(reporter.AccumulatedText());
  ASSERT_TRUE(std::regex_search(map, first, std::regex("^sthp=([0-9]+):([0-9]+):([0-9]+):1:1")))
      << map;
  EXPECT_TRUE(first[1] == "1" || first[1] == "4") << map;
  EXPECT_NE(first[2], "0") << "no error code: " << map;
  EXPECT_EQ(first[3], "0") << map;
  EXPECT_GE(reporter.failures(), 2);  // the flush and at least one final attempt
  EXPECT_EQ(reporter.failures(), reporter.attempts());
}

TEST_F(UploadTest, AnsweringServerReceivesEveryRecordInOrder) {
  const std::wstring header = TestHeader("order");
  StatReporter reporter(platform, sender);
  ASSERT_TRUE(reporter.Start(L"Functionwebinst", header, collector.server()));
  std::vector<std::string> expected;
  std::string trail;
  reporter.Enqueue(OneShotRecord(L"Start"));
  expected.push_back("src=Start ");
  for (int i = 0; i < 20; ++i) {
    for (int j = 0; j < 10; ++j) {
      const std::wstring value = std::to_wstring(i * 10 + j) + L":" + std::to_wstring(j);
      reporter.Enqueue(MakeTrace(L"p_trc", value));
      trail += (trail.empty() ? "" : "/") + WideToUtf8(value);
    }
    reporter.Enqueue(OneShotRecord(L"r" + std::to_wstring(i)));
    expected.push_back("src=r" + std::to_string(i) + " ");
  }
  reporter.Enqueue(OneShotRecord(L"End"));
  expected.push_back("src=End ");
  ASSERT_TRUE(reporter.Stop());

  std::vector<std::string> oneShots;
  std::string finalMap;
  for (const Json::Value& r : collector.ReportsFor(WideToUtf8(header))) {
    EXPECT_EQ(r["answer"].asString(), "200");
    const std::string line = r["line"].asString();
    if (line.find("src=") != std::string::npos) {
      oneShots.push_back(line);
    } else {
      finalMap = line;
    }
  }
  EXPECT_EQ(oneShots, expected);
  EXPECT_EQ(finalMap.compare(0, 6 + trail.size() + 1, "p_trc=" + trail + " "), 0) << finalMap;
  EXPECT_EQ(reporter.failures(), 0);
}

}  // namespace
