// Product detection over registration values this test writes under a
// scratch key of HKCU and demo browsers it starts for real: version
// resources, the install directory value, the running browser's title
// forms, each mode's action and the exit handshake with its waits.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/product_detection_win.h"
#include "app/testing/demo_browser_win.h"
#include "app/testing/recorder_stub.h"
#include "sys/testing/test_files_win.h"

namespace {

const DWORD kExitWaitMs = 1500;
const std::wstring kBrowserVersion = ZETORA_DEMO_BROWSER_VERSION_WIDE;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring VersionModule(const wchar_t* name) {
  return WinePath(std::wstring(ZETORA_VERSION_MODULES_WIDE_DIR) + L"/" + name);
}

// A copy of a module whose translation table claims 2 bytes: one number
// where a language and code page pair needs two.
std::wstring WriteShortTranslationCopy(const std::wstring& module) {
  std::string bytes = ReadWholeFile(module);
  const std::wstring key = L"Translation";
  const std::string keyBytes(reinterpret_cast<const char*>(key.c_str()), key.size() * 2);
  const std::size_t at = bytes.find(keyBytes);
  if (at == std::string::npos || at < 4) return std::wstring();
  bytes[at - 4] = 2;  // wValueLength, little-endian, of the Translation entry
  bytes[at - 3] = 0;
  const std::wstring copy = TempFileName(L"zst");
  HANDLE file = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return copy;
}

// Keeps the "cenv" traces joined with "/", as the statistics queue joins them.
class TraceRecorder : public RecorderStub {
 public:
  void QueueTrace(const std::wstring& key, const std::wstring& value) override {
    if (key != L"cenv") return;
    cenv += (cenv.empty() ? "" : "/") + Narrow(value);
  }

  std::string cenv;
};

class ProductDetectionTest : public ::testing::Test {
 protected:
  ProductDetectionTest()
      : key_(L"Software\\ZetoraTest\\detect" + std::to_wstring(GetCurrentProcessId())),
        registration_(HKEY_CURRENT_USER, key_) {
    settings_.registryRoot = HKEY_CURRENT_USER;
    settings_.productKey = key_;
    settings_.exitWaitMs = kExitWaitMs;
    settings_.launchPollMs = 200;
  }
  void SetUp() override { EndRemainingBrowsers(); }
  void TearDown() override { EndRemainingBrowsers(); }

  ProductDetection Detection() { return ProductDetection(&recorder_, settings_); }
  void InstallBrowser() {
    ASSERT_TRUE(registration_.SetInstallDir(MakeInstallDirWithBrowser(L"zbinstalled")));
  }

  std::wstring key_;
  TestRegistration registration_;
  DetectionSettings settings_;
  TraceRecorder recorder_;
};

TEST(ProductVersion, ReadFromVersionResources) {
  const std::wstring text = TempFileName(L"zpv");
  const std::wstring shortTranslation = WriteShortTranslationCopy(VersionModule(L"version_commas.dll"));
  ASSERT_NE(shortTranslation, L"");
  struct Case {
    std::wstring file;
    HRESULT result;
    std::wstring version;
  } cases[] = {
      {DemoBrowserPath(), S_OK, kBrowserVersion},
      {VersionModule(L"version_commas.dll"), S_OK, L"1, 0, 0, 5"},
      // One number where the translation pair needs two.
      {shortTranslation, E_FAIL, L""},
      {VersionModule(L"version_no_product.dll"), E_FAIL, L""},
      {text, E_FAIL, L""},
      {text + L".missing", E_FAIL, L""},
      {L"", E_FAIL, L""},
  };
  for (const Case& c : cases) {
    std::wstring version = L"stale";
    EXPECT_EQ(ReadProductVersion(c.file, &version), c.result) << Narrow(c.file);
    EXPECT_EQ(version, c.version) << Narrow(c.file);
  }
  DeleteFileW(text.c_str());
  DeleteFileW(shortTranslation.c_str());
}

TEST_F(ProductDetectionTest, InstallDirectoryValue) {
  EXPECT_EQ(Detection().ReadInstallDir(), L"");  // no key yet

  // A directory of 200 characters is read and its browser found.
  const std::wstring longDir = MakeInstallDirWithBrowser(L"zblong", 200);
  ASSERT_EQ(longDir.size(), 200u);
  ASSERT_TRUE(registration_.SetInstallDir(longDir));
  EXPECT_EQ(Detection().ReadInstallDir(), longDir);
  EXPECT_TRUE(Detection().IsProductInstalled());

  wchar_t expanded[MAX_PATH] = {};
  ExpandEnvironmentStringsW(L"%TEMP%\\zb", expanded, MAX_PATH);
  const std::wstring full(MAX_PATH, L'x');
  const std::wstring unterminated = L"C:\\no zero";
  const DWORD number = 1;
  struct Case {
    DWORD type;
    std::wstring data;  // stored with a terminating zero unless noted
    std::wstring expected;
  } cases[] = {
      {REG_SZ, full, full},
      {REG_SZ, full + L"x", L""},  // longer than MAX_PATH: not installed
      {REG_EXPAND_SZ, L"%TEMP%\\zb", expanded},
      {REG_BINARY, L"C:\\binary", L""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(registration_.SetValue(c.type, c.data.c_str(),
                                       static_cast<DWORD>((c.data.size() + 1) * sizeof(wchar_t))));
    EXPECT_EQ(Detection().ReadInstallDir(), c.expected) << Narrow(c.data);
  }
  ASSERT_TRUE(registration_.SetValue(REG_SZ, unterminated.c_str(),
                                     static_cast<DWORD>(unterminated.size() * sizeof(wchar_t))));
  EXPECT_EQ(Detection().ReadInstallDir(), unterminated);
  ASSERT_TRUE(registration_.SetValue(REG_DWORD, &number, sizeof(number)));
  EXPECT_EQ(Detection().ReadInstallDir(), L"");
}

TEST_F(ProductDetectionTest, EmptyDirectoryIsNotInstalledEvenWithABrowserAtTheDriveRoot) {
  // A browser planted at the root of the current drive, where the bare
  // name behind a backslash would point.
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(MakeTestDirectory(L"zbcwd").c_str()));
  ASSERT_TRUE(CopyFileW(DemoBrowserPath().c_str(), L"\\zetorabrowser.exe", FALSE));
  const std::wstring log = TempFileName(L"zbr");
  {
    ScopedBrowserSettings settings(L"title=session;top=none;log=" + log);
    ASSERT_TRUE(registration_.SetInstallDir(L""));
    ProductDetection detection = Detection();
    EXPECT_EQ(detection.InstalledExecutable(), L"");
    EXPECT_EQ(ClassifyInstall(recorder_, detection, kBrowserVersion), kModeNotInstalled);
    EXPECT_FALSE(ApplyMode(recorder_, detection, kModeUpToDateNotRunning));
    Sleep(500);
  }
  EXPECT_EQ(ReadWholeFile(log), "");  // nothing was started
  EXPECT_EQ(recorder_.cenv, "ibbar/ibbe/inbbe/lbb/ibbar/ibbar/ibbar/ibbar/ibbar");
  DeleteFileW(L"\\zetorabrowser.exe");
  DeleteFileW(log.c_str());
  SetCurrentDirectoryW(previous);
}

TEST_F(ProductDetectionTest, RunningOnlyThroughTheMainMessageWindow) {
  struct Case {
    const wchar_t* settings;
    bool running;
  } cases[] = {
      {L"title=slashes", true},
      {L"title=backslashes", true},
      {L"title=session", true},
      {L"title=none", false},  // the process runs, but without its window
      {L"role=companion;title=session", false},
  };
  for (const Case& c : cases) {
    DemoBrowserProcess browser;
    ASSERT_TRUE(browser.Start(std::wstring(c.settings) + L";top=none"));
    EXPECT_EQ(Detection().IsBrowserRunning(), c.running) << Narrow(c.settings);
  }
  EXPECT_EQ(recorder_.cenv, "ibbar/bbir/ibbar/bbir/ibbar/bbir/ibbar/ibbar");
}

TEST_F(ProductDetectionTest, VersionWithCommasComparesAfterDots) {
  const std::wstring dir = MakeTestDirectory(L"zbcommas");
  ASSERT_TRUE(CopyFileW(VersionModule(L"version_commas.dll").c_str(),
                        (dir + L"\\zetorabrowser.exe").c_str(), FALSE));
  ASSERT_TRUE(registration_.SetInstallDir(dir));
  ProductDetection detection = Detection();
  EXPECT_TRUE(detection.IsProductInstalled());
  EXPECT_TRUE(detection.IsInstalledUpToDate(L"1.0.0.5"));
  EXPECT_FALSE(detection.IsInstalledUpToDate(L"1.0.0.6"));
  EXPECT_EQ(detection.ReadSetupVersion(dir + L"\\zetorabrowser.exe"), L"1. 0. 0. 5");
  EXPECT_EQ(recorder_.cenv, "ibbe/inbbe/inbbe/gsfv/1. 0. 0. 5");
}

TEST_F(ProductDetectionTest, UpToDateAndRunningIsBroughtToTheFront) {
  InstallBrowser();
  DemoBrowserProcess browser;
  ASSERT_TRUE(browser.Start(L"title=session;top=minimized"));
  HWND top = FindWindowW(kBrowserTopLevelClass, nullptr);
  ASSERT_NE(top, nullptr);
  ASSERT_TRUE(IsIconic(top));

  ProductDetection detection = Detection();
  EXPECT_EQ(ClassifyInstall(recorder_, detection, kBrowserVersion), kModeUpToDateRunning);
  EXPECT_FALSE(ApplyMode(recorder_, detection, kModeUpToDateRunning));
  EXPECT_FALSE(IsIconic(top));
  EXPECT_EQ(GetWindowLongW(top, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_EQ(browser.WaitExit(0), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(recorder_.cenv, "ibbar/bbir/ibbe/inbbe/sbbtfw");
}

TEST_F(ProductDetectionTest, UpToDateAndNotRunningIsStarted) {
  InstallBrowser();
  const std::wstring log = TempFileName(L"zbr");
  ScopedBrowserSettings settings(L"title=session;top=none;log=" + log);
  ProductDetection detection = Detection();
  EXPECT_EQ(ClassifyInstall(recorder_, detection, kBrowserVersion), kModeUpToDateNotRunning);
  EXPECT_FALSE(ApplyMode(recorder_, detection, kModeUpToDateNotRunning));
  EXPECT_NE(ReadWholeFile(log).find("start pid="), std::string::npos);
  // The checks stop at the first one that finds the started browser.
  const std::string cenv = recorder_.cenv;
  EXPECT_EQ(cenv.rfind("ibbar/ibbe/inbbe/lbb/ibbar", 0), 0u) << cenv;
  EXPECT_EQ(cenv.substr(cenv.size() - 5), "/bbir") << cenv;
  EXPECT_EQ(cenv.find("bbir"), cenv.size() - 4) << cenv;
  DeleteFileW(log.c_str());
}

TEST_F(ProductDetectionTest, OlderAndNotRunningStartsNothing) {
  InstallBrowser();
  const std::wstring log = TempFileName(L"zbr");
  ScopedBrowserSettings settings(L"title=session;top=none;log=" + log);
  ProductDetection detection = Detection();
  EXPECT_EQ(ClassifyInstall(recorder_, detection, L"99.0.0.0"), kModeOlderNotRunning);
  EXPECT_TRUE(ApplyMode(recorder_, detection, kModeOlderNotRunning));
  EXPECT_EQ(ClassifyInstall(recorder_, detection, L"1.0"), kModeVersionMalformed);
  Sleep(300);
  EXPECT_EQ(ReadWholeFile(log), "");
  DeleteFileW(log.c_str());
}

TEST_F(ProductDetectionTest, OlderAndRunningIsAskedToExit) {
  InstallBrowser();
  DemoBrowserProcess browser;
  ASSERT_TRUE(browser.Start(L"title=backslashes;top=none"));
  ProductDetection detection = Detection();
  EXPECT_EQ(ClassifyInstall(recorder_, detection, L"99.0.0.0"), kModeOlderRunning);
  const DWORD start = GetTickCount();
  EXPECT_TRUE(ApplyMode(recorder_, detection, kModeOlderRunning));
  EXPECT_LT(GetTickCount() - start, kExitWaitMs);
  EXPECT_EQ(browser.WaitExit(5000), 7u) << browser.Log();  // its own exit, not ended
}

enum class Wait { kShort, kFull, kAny };

TEST_F(ProductDetectionTest, CloseRunningBrowserHandshake) {
  const DWORD kRunning = STILL_ACTIVE;
  struct Case {
    const char* name;
    const wchar_t* main;
    const wchar_t* companion;  // nullptr: no companion process
    DWORD mainCode;            // 7 is a clean exit, 0 being ended
    DWORD companionCode;
    Wait wait;
    const char* mainLog;
  } cases[] = {
      {"obeys the exit request", L"title=backslashes", nullptr, 7, 0, Wait::kShort,
       "received 0x464"},
      {"quits through the profile title", L"title=slashes", nullptr, 7, 0, Wait::kShort,
       "received WM_QUIT"},
      {"ignores and is ended", L"on_exit_request=ignore", nullptr, 0, 0, Wait::kFull,
       "received 0x464"},
      {"exits late within the wait", L"on_exit_request=late;late_ms=300", nullptr, 7, 0,
       Wait::kShort, "exit late"},
      {"exits too late and is ended", L"on_exit_request=late;late_ms=10000", nullptr, 0, 0,
       Wait::kFull, "received 0x464"},
      // Gone before the event is opened, or waited for in full: a process
      // that has ended is not ended again.
      {"exits without its event", L"on_exit_request=no_event", nullptr, 7, 0, Wait::kAny,
       "event=unset"},
      // Without an exit event a browser counts as gone at once.
      {"has no exit event", L"exit_event=0;on_exit_request=ignore", nullptr, kRunning, 0,
       Wait::kShort, "received 0x464"},
      {"exits with its companion", L"", L"role=companion", 7, 7, Wait::kShort, "exit request"},
      {"companion ignores and is ended", L"", L"role=companion;on_exit_request=ignore", 7, 0,
       Wait::kFull, "exit request"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DemoBrowserProcess main;
    DemoBrowserProcess companion;
    ASSERT_TRUE(main.Start(std::wstring(L"title=session;top=none;") + c.main));
    if (c.companion != nullptr) {
      ASSERT_TRUE(companion.Start(std::wstring(L"title=session;top=none;") + c.companion));
    }
    const DWORD start = GetTickCount();
    EXPECT_TRUE(Detection().CloseRunningBrowser());
    const DWORD elapsed = GetTickCount() - start;
    if (c.wait == Wait::kShort) {
      EXPECT_LT(elapsed, kExitWaitMs);
    } else if (c.wait == Wait::kFull) {
      EXPECT_GE(elapsed + 50, kExitWaitMs);
    }
    EXPECT_EQ(main.WaitExit(c.mainCode == kRunning ? 0 : 5000), c.mainCode) << main.Log();
    EXPECT_TRUE(WaitForFileText(main.logPath(), c.mainLog, 5000)) << main.Log();
    if (c.companion != nullptr) {
      EXPECT_EQ(companion.WaitExit(5000), c.companionCode) << companion.Log();
    }
  }
}

TEST_F(ProductDetectionTest, NoBrowserWindowSignalsTheOtherProduct) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, kOtherProductEvent);
  ASSERT_NE(event, nullptr);
  DemoBrowserProcess windowless;
  ASSERT_TRUE(windowless.Start(L"title=none;top=none"));
  EXPECT_TRUE(Detection().CloseRunningBrowser());
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(windowless.WaitExit(0), static_cast<DWORD>(STILL_ACTIVE));
  CloseHandle(event);
}

}  // namespace
