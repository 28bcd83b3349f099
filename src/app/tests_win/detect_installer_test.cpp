// The real installer on a machine where the browser is already installed:
// the product registration in HKLM as the package leaves it, the demo
// browser in the registered directory, the channel offering that same
// version. Such a run ends with end reason 3 and asks the server for nothing
// but the configuration.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/browser_names.h"
#include "app/channel_config.h"
#include "app/testing/demo_browser_win.h"
#include "app/testing/installer_harness_win.h"
#include "build_config.h"
#include "net/testing/httpd_client_win.h"

namespace {

const DWORD kRunLimitMs = 120000;
const std::string kBrowserVersion = ZETORA_DEMO_BROWSER_VERSION_TEXT;

class DetectInstallerTest : public ::testing::Test {
 protected:
  DetectInstallerTest() : registration_(HKEY_LOCAL_MACHINE, kProductKey) {}

  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ASSERT_EQ(server_.port(), build_config::kConfigPort);
    ASSERT_TRUE(server_.Reset());
    ASSERT_TRUE(collector_.Control("status=200"));
    EndRemainingBrowsers();
  }
  void TearDown() override { EndRemainingBrowsers(); }

  // Installs the demo browser, which logs to browserLog_ when started.
  void InstallBrowser() {
    const std::wstring dir = MakeInstallDirWithBrowser(L"zbproduct");
    const std::string settings = "title=session\r\ntop=none\r\nlog=" +
                                 std::string(browserLog_.begin(), browserLog_.end()) + "\r\n";
    HANDLE file = CreateFileW((dir + L"\\demo_browser_settings.txt").c_str(), GENERIC_WRITE, 0,
                              nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, settings.data(), static_cast<DWORD>(settings.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(registration_.SetInstallDir(dir));
  }

  // Serves channel tn's configuration offering version, and runs silently.
  InstallerRunResult Run(const std::string& tn, const std::string& version) {
    std::string document = "<downloadlist><item name=\"ZetoraBrowser\" version=\"" + version +
                           "\" url=\"http://127.0.0.1:" + std::to_string(server_.port()) +
                           "/union/getvxbrowser.php?tn=" + tn + "\" attachment=\"http://127.0.0.1:" +
                           std::to_string(server_.port()) + "/oi/config/tnconfig_" + tn +
                           ".xml\"/></downloadlist>";
    EncryptConfigBlocks(MakeConfigKey(build_config::kConfigKeyText), &document);
    EXPECT_TRUE(server_.ServeBytes("/oi/config/config_" + tn + ".xml", document));
    return RunInstallerTagged(collector_, std::wstring(tn.begin(), tn.end()), L"/S", kRunLimitMs);
  }

  std::vector<std::string> RequestedTargets() {
    std::vector<std::string> targets;
    for (const HttpdClient::LogLine& line : server_.Log("")) targets.push_back(line.target);
    return targets;
  }

  HttpdClient server_;
  CollectorClient collector_;
  TestRegistration registration_;
  const std::wstring browserLog_ = TempFileName(L"zbl");
};

TEST_F(DetectInstallerTest, UpToDateProductIsStartedAndNothingIsDownloaded) {
  InstallBrowser();
  const InstallerRunResult run = Run("detup", kBrowserVersion);
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_NE(run.diagnostics.find("InstallDriver end reason=3 "), std::string::npos)
      << run.diagnostics;
  EXPECT_EQ(run.Stats(), (std::vector<std::string>{"2", "3", "4", "5", "8", "9", "999"}))
      << run.FinalMap();
  const std::string end = run.EndLine();
  EXPECT_EQ(ValueOf(end, "Result"), "4") << end;
  EXPECT_EQ(ValueOf(end, "ExtReason"), "3") << end;
  // Not running, installed, up to date; started, then found running.
  const std::string cenv = ValueOf(run.FinalMap(), "cenv");
  EXPECT_EQ(cenv.rfind("ibbar/ibbe/inbbe/lbb/ibbar", 0), 0u) << cenv;
  EXPECT_EQ(cenv.substr(cenv.size() - 5), "/bbir") << cenv;
  EXPECT_NE(run.diagnostics.find("ClassifyInstall offered=" + kBrowserVersion +
                                 " running=0 installed=1 uptodate=1 mode=3"),
            std::string::npos)
      << run.diagnostics;
  EXPECT_NE(run.diagnostics.find("Installed product dir="), std::string::npos);
  EXPECT_TRUE(WaitForFileText(browserLog_, "start pid=", 5000));
  EXPECT_EQ(RequestedTargets(), std::vector<std::string>{"/oi/config/config_detup.xml"});
}

TEST_F(DetectInstallerTest, UpToDateRunningProductIsLeftRunning) {
  InstallBrowser();
  DemoBrowserProcess browser;
  ASSERT_TRUE(browser.Start(L"title=session;top=none"));
  const InstallerRunResult run = Run("detrun", kBrowserVersion);
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_NE(run.diagnostics.find("InstallDriver end reason=3 "), std::string::npos)
      << run.diagnostics;
  EXPECT_EQ(ValueOf(run.EndLine(), "ExtReason"), "1") << run.EndLine();
  EXPECT_EQ(ValueOf(run.FinalMap(), "cenv"), "ibbar/bbir/ibbe/inbbe/sbbtfw") << run.FinalMap();
  EXPECT_EQ(browser.WaitExit(0), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(ReadWholeFile(browserLog_), "");  // no second browser started
  EXPECT_EQ(RequestedTargets(), std::vector<std::string>{"/oi/config/config_detrun.xml"});
}

TEST_F(DetectInstallerTest, OlderRunningProductIsAskedToExitBeforeTheInstallation) {
  InstallBrowser();
  DemoBrowserProcess browser;
  ASSERT_TRUE(browser.Start(L"title=session;top=none"));
  const InstallerRunResult run = Run("detold", "99.0.0.0");
  ASSERT_EQ(run.exitCode, 5u) << run.diagnostics;  // no package is served
  EXPECT_EQ(browser.WaitExit(5000), 7u) << browser.Log();  // its own clean exit
  EXPECT_NE(browser.Log().find("received 0x464"), std::string::npos) << browser.Log();
  const std::vector<std::string> stats = run.Stats();
  ASSERT_GE(stats.size(), 6u) << run.FinalMap();
  EXPECT_EQ(std::vector<std::string>(stats.begin(), stats.begin() + 6),
            (std::vector<std::string>{"2", "3", "4", "5", "8", "9"}));
  const std::string cenv = ValueOf(run.FinalMap(), "cenv");
  EXPECT_EQ(cenv.rfind("ibbar/bbir/ibbe/inbbe", 0), 0u) << cenv;
}

}  // namespace
