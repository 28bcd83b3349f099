#include "app/install_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/browser_names.h"
#include "app/testing/recorder_stub.h"

namespace {

TEST(CompareVersions, PartByPart) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    int expected;
  };
  const Case cases[] = {
      {L"1.0.0.5", L"1.0.0.5", 0},
      {L"1.0.0.5", L"1.0.0.6", -1},
      {L"1.2.3.10", L"1.2.3.9", 1},  // numbers, not text
      {L"2.0.0.0", L"1.9.9.9", 1},
      {L"1.2", L"1.2.0.0", -1},  // fewer parts compare lower
      {L"1.2.0.0", L"1.2", 1},
      {L"", L"", 0},
      {L"", L"0.0.0.1", -1},
      {L"1. 0. 0. 5", L"1.0.0.5", 0},  // commas made dots, blanks skipped
      {L"1.0.0.5beta", L"1.0.0.5", 0},  // leading digits only
      {L"01.0.0.5", L"1.0.0.5", 0},
      {L"-1.0.0.0", L"0.0.0.0", -1},
      {L"-0.0.0.0", L"0.0.0.0", 0},
      // Parts far beyond any integer type: a difference would overflow.
      {L"1.0.0.99999999999999999999", L"1.0.0.99999999999999999998", 1},
      {L"4294967296.0.0.0", L"1.0.0.0", 1},
      {L"2147483648.0.0.0", L"-2147483648.0.0.0", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << "a=" << c.a << " b=" << c.b;
    EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected) << "a=" << c.b << " b=" << c.a;
  }
}

TEST(CompareVersions, ResourceTextWithCommas) {
  EXPECT_EQ(VersionWithDots(L"1, 0, 0, 5"), L"1. 0. 0. 5");
  EXPECT_EQ(CompareVersions(VersionWithDots(L"1, 0, 0, 5"), L"1.0.0.5"), 0);
  EXPECT_EQ(CompareVersions(VersionWithDots(L"1, 0, 0, 4"), L"1.0.0.5"), -1);
}

TEST(InstallModeFor, EveryCombination) {
  for (int bits = 0; bits < 16; ++bits) {
    InstallFindings f;
    f.running = bits & 1;
    f.installed = bits & 2;
    f.upToDate = bits & 4;
    f.offeredWellFormed = bits & 8;
    int expected;
    if (!f.offeredWellFormed) {
      expected = 5;
    } else if (!f.installed) {
      expected = 0;
    } else if (f.running) {
      expected = f.upToDate ? 1 : 2;
    } else {
      expected = f.upToDate ? 3 : 4;
    }
    EXPECT_EQ(InstallModeFor(f), expected) << "bits=" << bits;
  }
}

class LogRecorder : public RecorderStub {
 public:
  explicit LogRecorder(std::vector<std::string>* log) : log_(log) {}
  void Stamp(int s, int r, int e) override {
    log_->push_back("phase " + std::to_string(s) + "," + std::to_string(r) + "," +
                    std::to_string(e));
  }
  void ReportRunning() override { log_->push_back("running"); }

 private:
  std::vector<std::string>* log_;
};

// Answers the checks from fields; the browser "starts" after a number of
// running checks.
class FakeHost : public BrowserHost {
 public:
  explicit FakeHost(std::vector<std::string>* log) : log_(log) {}
  bool IsBrowserRunning() override {
    log_->push_back("running?");
    return running || (startsAfterChecks > 0 && --startsAfterChecks == 0);
  }
  bool IsProductInstalled() override {
    log_->push_back("installed?");
    return installed;
  }
  bool IsInstalledUpToDate(const std::wstring& offered) override {
    log_->push_back("up to date?");
    return installed && CompareVersions(installedVersion, offered) >= 0;
  }
  void BringBrowserToFront() override { log_->push_back("front"); }
  bool CloseRunningBrowser() override {
    log_->push_back("close");
    return false;
  }
  void LaunchInstalledBrowser() override { log_->push_back("launch"); }
  void WaitLaunchPoll() override { log_->push_back("pause"); }

  bool running = false;
  bool installed = false;
  std::wstring installedVersion;
  int startsAfterChecks = 0;

 private:
  std::vector<std::string>* log_;
};

TEST(ClassifyInstall, AllFourChecksInOrder) {
  struct Case {
    bool running, installed;
    const wchar_t* installedVersion;
    const wchar_t* offered;
    int mode;
  };
  const Case cases[] = {
      {false, false, L"", L"1.0.0.5", 0},
      {true, true, L"1.0.0.5", L"1.0.0.5", 1},
      {true, true, L"1.2", L"1.2.0.0", 2},
      {false, true, L"1.0.0.5", L"1.0.0.5", 3},
      {false, true, L"1.0.0.4", L"1.0.0.5", 4},
      {true, true, L"1.0.0.5", L"1.0", 5},  // the checks still all run
  };
  for (const Case& c : cases) {
    std::vector<std::string> log;
    LogRecorder recorder(&log);
    FakeHost host(&log);
    host.running = c.running;
    host.installed = c.installed;
    host.installedVersion = c.installedVersion;
    EXPECT_EQ(ClassifyInstall(recorder, host, c.offered), c.mode) << c.offered;
    EXPECT_EQ(log, (std::vector<std::string>{"phase 8,0,0", "running", "running?", "installed?",
                                             "up to date?"}));
  }
}

TEST(ApplyMode, ActionsPhasesAndProceed) {
  struct Case {
    int mode;
    bool proceed;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {0, true, {"phase 9,1,0", "running"}},
      {1, false, {"front", "phase 9,4,1", "running"}},
      {2, true, {"close", "phase 9,4,2", "running"}},  // a failed close still proceeds
      {4, true, {"phase 9,4,4", "running"}},
      {5, true, {"phase 9,4,5", "running"}},
      {6, true, {"phase 9,4,0", "running"}},
      {-1, true, {"phase 9,4,0", "running"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> log;
    LogRecorder recorder(&log);
    FakeHost host(&log);
    EXPECT_EQ(ApplyMode(recorder, host, c.mode), c.proceed) << c.mode;
    EXPECT_EQ(log, c.log) << c.mode;
  }

  // Mode 3: at most five pauses, ending at the first check that finds the
  // started browser.
  std::vector<std::string> log;
  LogRecorder recorder(&log);
  FakeHost never(&log);
  EXPECT_FALSE(ApplyMode(recorder, never, 3));
  std::vector<std::string> expected = {"launch", "phase 9,4,3", "running"};
  for (int i = 0; i < kLaunchPolls; ++i) expected.insert(expected.end(), {"pause", "running?"});
  EXPECT_EQ(log, expected);

  log.clear();
  FakeHost second(&log);
  second.startsAfterChecks = 2;
  EXPECT_FALSE(ApplyMode(recorder, second, 3));
  EXPECT_EQ(log, (std::vector<std::string>{"launch", "phase 9,4,3", "running", "pause",
                                           "running?", "pause", "running?"}));
}

TEST(BrowserNames, VersionQueryKeepsFourDigitsPerNumber) {
  EXPECT_EQ(ProductVersionQuery(0x409, 0x4b0), L"\\StringFileInfo\\040904b0\\ProductVersion");
  EXPECT_EQ(ProductVersionQuery(0x804, 1200), L"\\StringFileInfo\\080404b0\\ProductVersion");
  EXPECT_EQ(ProductVersionQuery(0, 0), L"\\StringFileInfo\\00000000\\ProductVersion");
  EXPECT_EQ(ProductVersionQuery(0xFFFF, 0x12345), L"\\StringFileInfo\\ffff2345\\ProductVersion");
}

TEST(BrowserNames, TitlesAndExecutable) {
  const BrowserTitles detect =
      MakeBrowserTitles(TitleForm::kDetect, L"C:\\Users\\u\\AppData\\Roaming", L"u", 1);
  EXPECT_EQ(detect.slashes, L"C:\\Users\\u\\AppData\\Roaming/vexlo/zetorabrowser/u");
  EXPECT_EQ(detect.backslashes, L"C:\\Users\\u\\AppData\\Roaming\\vexlo\\zetorabrowser\\u");
  EXPECT_EQ(detect.session, L"zetoraBrowserMsgWnd\\1");
  EXPECT_EQ(MakeBrowserTitles(TitleForm::kClose, L"A", L"u", 12).slashes,
            L"A/vexlo/zetoraBrowser/u");
  EXPECT_EQ(InstalledExecutablePath(L"C:\\Zb"), L"C:\\Zb\\zetorabrowser.exe");
  // No registered directory: no path, never "\zetorabrowser.exe" at a root.
  EXPECT_EQ(InstalledExecutablePath(L""), L"");
}

}  // namespace
