// The whole installer, run silently, against servers that fail: the
// configuration server, the package download and the statistics server
// each answer with errors, stall, lie or go away. Every run must end within
// its bound with the right end reason, start only a verified package, and
// leave the item's folder consistent.
#include <chrono>

#include "app/testing/package_fixture_win.h"

namespace {

enum class Config { kGood, kUndecryptable, kNotXml };

struct Scenario {
  const char* tn;
  Config config;
  const char* configRule;   // test server actions for the configuration, or ""
  const char* packageRule;  // for the package, or ""
  const char* collector;    // the statistics server's answer: "200", "500", "hang", "close"
  const wchar_t* configSeconds;  // shortened download limits, or nullptr
  const wchar_t* setupSeconds;
  int endReason;
  bool packageStarted;
};

// A configuration fetch that fails (an error status, no answer, no HTTP)
// is retried until its time limit and then falls back to the built-in item,
// whose package URL the test server answers with 404.
const Scenario kScenarios[] = {
    // The configuration server.
    {"cf404", Config::kGood, "status=404", "", "200", nullptr, nullptr, 5, false},
    {"cf500", Config::kGood, "status=500", "", "200", L"5", nullptr, 5, false},
    {"cfstall", Config::kGood, "delay=30000", "", "200", L"3", nullptr, 5, false},
    {"cfgarbage", Config::kGood, "garbage=1", "", "200", L"5", nullptr, 5, false},
    // A body cut short is continued by range.
    {"cfcut", Config::kGood, "drop=100&count=1", "", "200", nullptr, nullptr, 0, true},
    {"cfundecryptable", Config::kUndecryptable, "", "", "200", nullptr, nullptr, 2, false},
    {"cfnotxml", Config::kNotXml, "", "", "200", nullptr, nullptr, 2, false},
    // The package download.
    {"pk500", Config::kGood, "", "status=500", "200", nullptr, L"6", 5, false},
    {"pkstall", Config::kGood, "", "delay=30000", "200", nullptr, L"4", 5, false},
    {"pkdrop", Config::kGood, "", "drop=100000&count=1", "200", nullptr, nullptr, 0, true},
    {"pkshort", Config::kGood, "", "short=5000&count=2", "200", nullptr, nullptr, 0, true},
    {"pkgarbage", Config::kGood, "", "garbage=1&count=1", "200", nullptr, nullptr, 0, true},
    {"pknorange", Config::kGood, "", "norange=1", "200", nullptr, nullptr, 0, true},
    {"pktotal", Config::kGood, "", "total=99&from=2&count=1", "200", nullptr, nullptr, 0, true},
    {"pklastmod", Config::kGood, "", "lastmod=1600000000&from=2&count=1", "200", nullptr, nullptr,
     0, true},
    // The statistics server: the outcome is the same whatever it does.
    {"st500", Config::kGood, "", "", "500", nullptr, nullptr, 0, true},
    {"sthang", Config::kGood, "", "", "hang", nullptr, nullptr, 0, true},
    {"stdown", Config::kGood, "", "", "close", nullptr, nullptr, 0, true},
};

class FaultScenarioTest : public PackageFixture,
                          public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultScenarioTest, EndsInTimeWithTheRightOutcome) {
  const Scenario& s = GetParam();
  Serve(s.tn, "");
  const std::string configPath = std::string("/oi/config/config_") + s.tn + ".xml";
  if (s.config != Config::kGood) {
    std::string document = s.config == Config::kNotXml
                               ? std::string("this is not a configuration")
                               : std::string(160, '\x5A');  // blocks that decrypt to noise
    if (s.config == Config::kNotXml) {
      EncryptConfigBlocks(MakeConfigKey(build_config::kConfigKeyText), &document);
    }
    ASSERT_TRUE(server_.ServeBytes(configPath, document));
  }
  if (*s.configRule) {
    ASSERT_TRUE(server_.Rule(configPath, s.configRule));
  }
  if (*s.packageRule) {
    ASSERT_TRUE(server_.Rule(std::string("/pkg/") + s.tn + ".exe", s.packageRule));
  }
  ASSERT_TRUE(collector_.Control(std::string("status=") + s.collector));
  SetEnvironmentVariableW(L"ZETORA_TEST_CONFIG_SECONDS", s.configSeconds);
  SetEnvironmentVariableW(L"ZETORA_TEST_SETUP_SECONDS", s.setupSeconds);

  const auto started = std::chrono::steady_clock::now();
  const InstallerRunResult run = Run(s.tn, 150000);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - started).count();
  ASSERT_TRUE(collector_.Control("status=200"));
  ASSERT_EQ(run.exitCode, 0u) << "did not end in time\n" << run.diagnostics;
  EXPECT_LE(seconds, 90) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=" + std::to_string(s.endReason) +
                                       " "))
      << run.diagnostics;
  EXPECT_EQ(Has(PackageLog(), "command: "), s.packageStarted) << PackageLog();
  EXPECT_EQ(Exists(SetupPath()), s.packageStarted);
  if (s.packageStarted) {
    EXPECT_EQ(ReadWholeFile(SetupPath()), SignedPackage(""));
    EXPECT_FALSE(Exists(SetupPath() + L".tmp"));
    EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume"));
  }
  // The collector saw the end of the run unless it was made to drop it.
  if (std::string(s.collector) == "200") {
    EXPECT_NE(run.EndLine(), "") << run.diagnostics;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultScenarioTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(info.param.tn);
                         });

}  // namespace
