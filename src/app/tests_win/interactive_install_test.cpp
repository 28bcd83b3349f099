// The real installer with its screens, driven by clicks at the buttons'
// places as a user gives them: a fresh install whose user goes back to the
// options from the progress screen, unticks the desktop shortcut and
// confirms; the package installs with that choice.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/testing/package_fixture_win.h"
#include "sys/testing/test_windows_win.h"

namespace {

// A visible window of the process with the given outer size and, unless
// title is null, that title.
HWND WaitInstallerWindow(DWORD process, int width, int height, const wchar_t* title) {
  return WaitForWindowMatching(
      [&](HWND window) {
        RECT r;
        if (WindowProcess(window) != process || !IsWindowVisible(window) ||
            !GetWindowRect(window, &r)) {
          return false;
        }
        if (r.right - r.left != width || r.bottom - r.top != height) return false;
        wchar_t text[64] = {};
        GetWindowTextW(window, text, 64);
        return title == nullptr || std::wstring(text) == title;
      },
      30000);
}

const wchar_t kOptionsTitle[] = L"zetora\x6D4F\x89C8\x5668\x4E0B\x8F7D\x7EC4\x4EF6";
const wchar_t kProgressTitle[] = L"zetora\x6D4F\x89C8\x5668\x5728\x7EBF\x5B89\x88C5";

class InteractiveInstallTest : public PackageFixture {};

TEST_F(InteractiveInstallTest, BackToTheOptionsUntickAndInstall) {
  Serve("clicks", "");
  // Slow enough that the user is back in the options before the download ends.
  ASSERT_TRUE(server_.Rule("/pkg/clicks.exe", "rate=20000"));
  HANDLE installer = StartInstaller(L"clicks", L"");
  ASSERT_NE(installer, nullptr);
  const DWORD process = GetProcessId(installer);

  HWND progress = WaitInstallerWindow(process, 620, 282, kProgressTitle);
  ASSERT_NE(progress, nullptr) << "no progress window";
  ClickAt(progress, 548, 258);  // "自定义安装"
  HWND options = WaitInstallerWindow(process, 620, 443, kOptionsTitle);
  ASSERT_NE(options, nullptr) << "the options did not come back";
  Sleep(1500);  // the panel slides out
  ClickAt(options, 224 + 6, 281 + 116 + 8);  // "添加桌面快捷方式"
  Sleep(300);
  ClickAt(options, 310, 170);  // the action button

  const DWORD ended = WaitForSingleObject(installer, kRunLimitMs);
  if (ended != WAIT_OBJECT_0) TerminateProcess(installer, 1);
  CloseHandle(installer);
  ASSERT_EQ(ended, WAIT_OBJECT_0) << "the installer did not end";
  const std::string log = PackageLog();
  EXPECT_TRUE(Has(log, "-DeskIconState=0 -FastIconState=1 -SetDefaultState=1")) << log;
  EXPECT_TRUE(Has(log, "registered=1")) << log;
  // The package's progress reached the options window it was handed.
  EXPECT_TRUE(Has(log, "progress 100 sent=1")) << log;
}

// Cancelling through the screens: the run ends as cancelled within a bound
// and the package is never started.
TEST_F(InteractiveInstallTest, CancelFromTheScreensEndsTheRun) {
  const struct {
    const char* tn;
    bool duringDownload;  // else while the configuration downloads
  } cases[] = {{"uicancelcfg", false}, {"uicanceldl", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tn);
    Serve(c.tn, "");
    if (c.duringDownload) {
      ASSERT_TRUE(server_.Rule("/pkg/" + std::string(c.tn) + ".exe", "rate=4000"));
    } else {
      ASSERT_TRUE(server_.Rule("/oi/config/config_" + std::string(c.tn) + ".xml", "delay=8000"));
    }
    HANDLE installer = StartInstaller(Wide(c.tn), L"");
    ASSERT_NE(installer, nullptr);
    const DWORD process = GetProcessId(installer);
    if (c.duringDownload) {
      HWND progress = WaitInstallerWindow(process, 620, 282, kProgressTitle);
      ASSERT_NE(progress, nullptr);
      Sleep(500);
      PostMessageW(progress, WM_COMMAND, 214, 0);  // "退出安装" of the tray menu
    } else {
      HWND options = WaitInstallerWindow(process, 620, 282, kOptionsTitle);
      ASSERT_NE(options, nullptr);
      Sleep(500);
      ClickAt(options, 601, 18);  // the close box
    }
    HWND prompt = WaitInstallerWindow(process, 350, 154, nullptr);
    ASSERT_NE(prompt, nullptr) << "no cancel confirmation";
    Sleep(300);
    ClickAt(prompt, 186, 118);  // "确定"
    const DWORD ended = WaitForSingleObject(installer, 30000);
    if (ended != WAIT_OBJECT_0) TerminateProcess(installer, 1);
    CloseHandle(installer);
    EXPECT_EQ(ended, WAIT_OBJECT_0) << "the cancelled run did not end";
    EXPECT_EQ(PackageLog(), "");
  }
}

// The window at the mode notice of an up-to-date product: closing it (and
// confirming) ends the run, which starts nothing.
TEST_F(InteractiveInstallTest, ClosingTheWindowAtTheModeNotice) {
  Serve("uiclose", "");
  const InstallerRunResult install = Run("uiclose");
  ASSERT_EQ(install.exitCode, 0u) << install.diagnostics;
  ASSERT_TRUE(Has(PackageLog(), "registered=1"));
  const std::string installLog = PackageLog();

  HANDLE installer = StartInstaller(L"uiclose", L"");
  ASSERT_NE(installer, nullptr);
  HWND options = WaitInstallerWindow(GetProcessId(installer), 620, 282, kOptionsTitle);
  ASSERT_NE(options, nullptr);
  Sleep(3000);  // the configuration is read and the mode shown ("立即上网")
  ClickAt(options, 601, 18);
  HWND prompt = WaitInstallerWindow(GetProcessId(installer), 350, 154, nullptr);
  ASSERT_NE(prompt, nullptr) << "no cancel confirmation";
  Sleep(300);
  ClickAt(prompt, 186, 118);
  const DWORD ended = WaitForSingleObject(installer, 30000);
  if (ended != WAIT_OBJECT_0) TerminateProcess(installer, 1);
  CloseHandle(installer);
  EXPECT_EQ(ended, WAIT_OBJECT_0) << "the run did not end";
  EXPECT_EQ(PackageLog(), installLog);  // nothing more was started
}

// A user interface that cannot start (its window fails, as in a freshly
// created Wine prefix) does not hold the run: an interactive run ends as
// cancelled, a silent run installs with the defaults, and both exit, which
// releases the single-instance mutex.
TEST_F(InteractiveInstallTest, AUserInterfaceThatCannotStartDoesNotHoldTheRun) {
  SetEnvironmentVariableW(L"ZETORA_TEST_UI_FAILS", L"1");
  Serve("uifails", "");
  const InstallerRunResult interactive =
      RunInstallerTagged(collector_, L"uifails", L"", kRunLimitMs);
  EXPECT_EQ(interactive.exitCode, 8u) << interactive.diagnostics;
  EXPECT_TRUE(Has(interactive.diagnostics, "InstallDriver end reason=8")) << interactive.diagnostics;
  EXPECT_EQ(PackageLog(), "");

  const InstallerRunResult silent = Run("uifails");
  SetEnvironmentVariableW(L"ZETORA_TEST_UI_FAILS", nullptr);
  EXPECT_EQ(silent.exitCode, 0u) << silent.diagnostics;
  EXPECT_TRUE(Has(silent.diagnostics, "InstallDriver end reason=0")) << silent.diagnostics;
  EXPECT_TRUE(Has(PackageLog(), "-INSTALLDIR=\"C:\\Program Files\\Vexlo\\ZetoraBrowser\"")) << PackageLog();
}

}  // namespace

namespace {

// An installer whose skin package is damaged: an interactive run says so in
// a message box and ends as cancelled once it is answered; a silent run
// needs no window and installs.
TEST_F(InteractiveInstallTest, ADamagedSkinIsReportedOrSkippedButNeverHoldsTheRun) {
  const std::wstring damaged = DamagedSkinInstallerCopy();
  ASSERT_FALSE(damaged.empty());
  Serve("skinbad", "");
  HANDLE installer = StartInstaller(L"skinbad", L"", damaged);
  ASSERT_NE(installer, nullptr);
  const DWORD pid = GetProcessId(installer);
  HWND box = WaitForWindowMatching(
      [&](HWND window) {
        wchar_t text[32] = {};
        GetWindowTextW(window, text, 32);
        return WindowProcess(window) == pid && IsWindowVisible(window) &&
               std::wstring(text) == L"\x5B89\x88C5\x63D0\x793A";  // 安装提示
      },
      30000);
  EXPECT_NE(box, nullptr) << "no message about the damaged installer";
  if (box != nullptr) PostMessageW(box, WM_COMMAND, IDOK, 0);
  const DWORD ended = WaitForSingleObject(installer, 30000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(installer, &code);
  if (ended != WAIT_OBJECT_0) TerminateProcess(installer, 1);
  CloseHandle(installer);
  EXPECT_EQ(code, 8u);
  EXPECT_EQ(PackageLog(), "");

  const InstallerRunResult silent =
      RunInstallerTagged(collector_, L"skinbad", L"/S", kRunLimitMs, damaged);
  DeleteFileW(damaged.c_str());
  EXPECT_EQ(silent.exitCode, 0u) << silent.diagnostics;
  EXPECT_TRUE(Has(ValueOf(silent.FinalMap(), "trsui"), "assfail")) << silent.FinalMap();
  EXPECT_TRUE(Has(PackageLog(), "command: ")) << PackageLog();
}

}  // namespace
