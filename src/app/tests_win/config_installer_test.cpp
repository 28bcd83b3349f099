// The real installer against the loopback configuration server (the test
// server on the configuration port) and the statistics collector: a served
// encrypted configuration, an error answer and an undecryptable body, each
// checked by what the collector received.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/channel_config.h"
#include "app/testing/installer_harness_win.h"
#include "build_config.h"
#include "net/testing/httpd_client_win.h"

namespace {

const DWORD kRunLimitMs = 120000;

class ConfigInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ASSERT_EQ(server_.port(), build_config::kConfigPort);
    ASSERT_TRUE(server_.Reset());
    ASSERT_TRUE(collector_.Control("status=200"));
  }
  InstallerRunResult Run(const std::wstring& tn) {
    return RunInstallerTagged(collector_, tn, L"/S", kRunLimitMs);
  }
  static std::string Encrypted(std::string document) {
    EncryptConfigBlocks(MakeConfigKey(build_config::kConfigKeyText), &document);
    return document;
  }

  HttpdClient server_;
  CollectorClient collector_;
};

std::vector<std::string> Prefix(const std::vector<std::string>& stats, std::size_t n) {
  return std::vector<std::string>(stats.begin(), stats.begin() + std::min(n, stats.size()));
}

TEST_F(ConfigInstallerTest, ServedConfigurationGivesItemZero) {
  ASSERT_TRUE(server_.ServeBytes(
      "/oi/config/config_cfgok.xml",
      Encrypted("<downloadlist><item name=\"Zb\" version=\"3.1.4.1\" url=\"http://127.0.0.1:" +
                std::to_string(build_config::kConfigPort) + "/missing.exe\"/>"
                "<item name=\"second\" version=\"9.9.9.9\"/></downloadlist>")));
  const InstallerRunResult run = Run(L"cfgok");
  ASSERT_EQ(run.exitCode, 5u) << run.diagnostics;
  EXPECT_EQ(Prefix(run.Stats(), 5), (std::vector<std::string>{"2", "3", "4", "5", "8"}))
      << run.FinalMap();
  EXPECT_EQ(ValueOf(run.EndLine(), "Cfgver"), "3.1.4.1") << run.EndLine();
  EXPECT_EQ(ValueOf(run.FinalMap(), "pcfg"),
            "cdb/dp/nopicpack/g_n/g_v/g_u/g_c/g_n/g_v/g_c") << run.FinalMap();
  EXPECT_NE(run.diagnostics.find("DownLoadUrlToFile=0 url=http://127.0.0.1:18080/oi/config/"
                                 "config_cfgok.xml"),
            std::string::npos) << run.diagnostics;
  // The configuration file lives only between its download and its reading.
  EXPECT_EQ(GetFileAttributesW((TestInstallerDirectory() + L"\\vexlobrowser_config").c_str()),
            INVALID_FILE_ATTRIBUTES);
}

TEST_F(ConfigInstallerTest, ErrorAnswerFallsBackToTheBuiltInItem) {
  ASSERT_TRUE(server_.Rule("/oi/config/config_cfg404.xml", "status=404"));
  const InstallerRunResult run = Run(L"cfg404");
  ASSERT_EQ(run.exitCode, 5u) << run.diagnostics;
  EXPECT_EQ(Prefix(run.Stats(), 5), (std::vector<std::string>{"2", "3", "6", "7", "8"}))
      << run.FinalMap();
  EXPECT_EQ(ValueOf(run.EndLine(), "Cfgver"), "") << run.EndLine();
  EXPECT_EQ(ValueOf(run.FinalMap(), "pcfg"), "") << run.FinalMap();
  EXPECT_NE(run.diagnostics.find("DownLoadUrlToFile=1223 "), std::string::npos) << run.diagnostics;
  EXPECT_EQ(server_.Log("/oi/config/config_cfg404.xml").size(), 1u);
}

TEST_F(ConfigInstallerTest, UndecryptableConfigurationEndsTheRun) {
  std::mt19937 random(11);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  ASSERT_TRUE(server_.ServeBytes("/oi/config/config_cfgbad.xml", noise));
  const InstallerRunResult run = Run(L"cfgbad");
  ASSERT_EQ(run.exitCode, 2u) << run.diagnostics;
  EXPECT_EQ(run.Stats(), (std::vector<std::string>{"2", "3", "4", "5", "999"})) << run.FinalMap();
  const std::string end = run.EndLine();
  EXPECT_EQ(ValueOf(end, "Stat"), "999") << end;
  EXPECT_EQ(ValueOf(end, "Result"), "3") << end;
  EXPECT_EQ(ValueOf(end, "ExtReason"), "1") << end;
  EXPECT_EQ(ValueOf(run.FinalMap(), "pcfg"), "cdb/dp/nopicpack/efdn") << run.FinalMap();
  EXPECT_NE(run.diagnostics.find("InstallDriver end reason=2"), std::string::npos)
      << run.diagnostics;
}

}  // namespace
