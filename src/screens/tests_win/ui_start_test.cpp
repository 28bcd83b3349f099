// The UI start contract with real threads and events: a UI thread that is
// late to signal readiness must not stop the driver, and the driver's final
// wait must still see the UI end.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/driver_messages.h"
#include "app/install_driver.h"
#include "app/testing/recorder_stub.h"
#include "app/ui_thread.h"
#include "screens/screen_controller_win.h"

namespace {

// The real UI thread, started only when the test releases it: a UI that is
// too slow to be ready within the start wait.
HANDLE g_release = nullptr;
ScreenController g_screens;

DWORD WINAPI LateUiBody(void* parameter) {
  WaitForSingleObject(g_release, INFINITE);
  return static_cast<DWORD>(g_screens.Run(*static_cast<UiContext*>(parameter)));
}

class NullRecorder : public RecorderStub {
 public:
  void Stamp(int stat, int result, int ext) override {
    lastStat = stat;
    result_ = result;
    ext_ = ext;
  }
  int LastResult() const override { return result_; }
  int LastExtReason() const override { return ext_; }
  int lastStat = 0;

 private:
  int result_ = 0, ext_ = 0;
};

// Steps of a first installation in which everything succeeds.
class SucceedingSteps : public InstallSteps {
 public:
  bool DownloadConfiguration() override { return true; }
  bool ParseConfiguration() override { return true; }
  void BuildFallbackItem() override {}
  std::wstring FirstItemVersion() override { return L"2.0.0.1"; }
  int ClassifyInstall(const std::wstring&) override { return 0; }
  bool ApplyMode(int) override { return true; }
  bool DownloadAttachment() override { return true; }
  void MakeSetupPath() override {}
  int DownloadSetup() override { return 0; }
  std::wstring ReadSetupVersion() override { return L"2.0.0.1"; }
  bool LaunchSetup(bool) override {
    launched = true;
    return true;
  }
  bool IsProductInstalled() override { return launched; }
  bool launched = false;
};

TEST(UiStart, DriverSurvivesAUiThatIsNotReadyInTime) {
  g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  InstallChoice choice;
  ASSERT_TRUE(InitInstallChoice(&choice));
  choice.silent = 1;  // the window stays hidden and commits the default choice

  const DWORD started = GetTickCount();
  UiContext* context =
      StartUiThread(GetModuleHandleW(nullptr), false, SW_SHOWNORMAL, choice, LateUiBody, 300);
  const DWORD waited = GetTickCount() - started;
  ASSERT_NE(context, nullptr);
  EXPECT_GE(waited, 250u);
  EXPECT_LT(waited, 5000u);
  EXPECT_EQ(context->optionsWindow, nullptr);
  // Neither ready nor ended yet.
  EXPECT_EQ(WaitForSingleObject(context->uiReadyEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(context->uiEndedEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  WindowDriverUi ui(context);
  ui.Post(kMsgPhaseNotice, 1, 0);  // dropped: there is no window yet
  SetEvent(g_release);
  // Notices posted before the window exists are lost; the driver starts once
  // the late window is there.
  for (int i = 0; i < 200 && context->optionsWindow == nullptr; ++i) Sleep(50);
  ASSERT_NE(context->optionsWindow, nullptr);

  SucceedingSteps steps;
  NullRecorder recorder;
  InstallDriver driver(steps, ui, recorder);
  EXPECT_EQ(driver.Run(), 0);
  EXPECT_TRUE(steps.launched);
  EXPECT_EQ(recorder.lastStat, 999);
  EXPECT_FALSE(choice.installDirectory.empty());
  EXPECT_EQ(context->optionsWindow, nullptr);
  EXPECT_EQ(WaitForSingleObject(context->uiThread, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(context->uiEndedEvent, 0), WAIT_OBJECT_0);
  CloseHandle(g_release);
}

TEST(UiStart, WaitUserCommandPrefersCancelOverGo) {
  InstallChoice choice;
  ASSERT_TRUE(InitInstallChoice(&choice));
  SetEvent(choice.goEvent);
  SetEvent(choice.cancelEvent);
  EXPECT_EQ(WaitUserCommand(choice, 0), 1);
  EXPECT_EQ(WaitUserCommand(choice, 0), 2);
  EXPECT_EQ(WaitUserCommand(choice, 10), 3);
}

}  // namespace
