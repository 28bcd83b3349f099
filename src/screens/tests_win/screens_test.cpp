// The screens with the real UI thread and the installer's skin, driven by the
// messages the driver and a package send, checked through the shared records,
// the UI traces, the skin's controls and screenshots of the screen.
#include <windows.h>

#include <gtest/gtest.h>

#include <oleacc.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/driver_messages.h"
#include "app/process_recorder.h"
#include "app/product_detection_win.h"
#include "app/testing/recorder_stub.h"
#include "app/ui_thread.h"
#include "dui/ctrl_dialog.h"
#include "dui/dui_button.h"
#include "dui/dui_panel.h"
#include "dui/skin_manager.h"
#include "dui/tests_win/screen_capture.h"
#include "net/download_control.h"
#include "screens/dlg_installing_win.h"
#include "screens/dlg_setting_win.h"
#include "screens/screen_controller_win.h"
#include "screens/screen_rules.h"
#include "screens/screen_support_win.h"
#include "screens/string_table.h"
#include "sys/testing/test_windows_win.h"

namespace {

class TraceRecorder : public RecorderStub {
 public:
  void QueueTrace(const std::wstring& key, const std::wstring& value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (key == L"trsui") traces_.push_back(value);
  }
  bool Has(const std::wstring& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(traces_.begin(), traces_.end(), value) != traces_.end();
  }

 private:
  std::mutex mutex_;
  std::vector<std::wstring> traces_;
};

bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
  const DWORD end = GetTickCount() + ms;
  while (!condition()) {
    if (static_cast<int>(end - GetTickCount()) <= 0) return false;
    Sleep(20);
  }
  return true;
}

bool IsSignalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

struct WindowQuery {
  DWORD thread;
  int width, height;
  HWND except;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  auto* query = reinterpret_cast<WindowQuery*>(parameter);
  RECT r;
  if (window == query->except || !IsWindowVisible(window) || !GetWindowRect(window, &r)) return TRUE;
  if (r.right - r.left != query->width || r.bottom - r.top != query->height) return TRUE;
  query->found = window;
  return FALSE;
}

// A visible window of the UI thread with the given size.
HWND FindScreen(HANDLE uiThread, int width, int height, HWND except = nullptr) {
  WindowQuery query{GetThreadId(uiThread), width, height, except, nullptr};
  EnumThreadWindows(query.thread, MatchWindow, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

HWND WaitScreen(HANDLE uiThread, int width, int height, HWND except = nullptr) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindScreen(uiThread, width, height, except)) != nullptr; });
  return found;
}

// A click notice for a control, as the skin posts it.
void ClickNotice(HWND window, const char* name) {
  PostMessageW(window, dui::SKIN_MSG_CLICK, 0, reinterpret_cast<LPARAM>(name));
}

dui::ctrl_base* Control(const char* window, const char* name) {
  return dui::skin_manager::instance()->find_control(window, name);
}

std::wstring TextOf(const char* window, const char* name) {
  auto* panel = dynamic_cast<dui::dui_ctrl_panel*>(Control(window, name));
  return panel ? panel->text() : L"<missing>";
}

bool IsDisabled(const char* window, const char* name) {
  auto* button = dynamic_cast<dui::dui_ctrl_button*>(Control(window, name));
  return button != nullptr && button->state() == dui::kButtonDisabled;
}

dui::screenshot Shoot(HWND window, const char* file) {
  dui::pump(400);
  RECT r;
  GetWindowRect(window, &r);
  dui::screenshot shot = dui::capture(r);
  shot.save_bmp(dui::beside_test_program(file).c_str());
  return shot;
}

// Pixels of a client rectangle close to a colour.
int CountNear(const dui::screenshot& shot, int left, int top, int right, int bottom, uint32_t rgb) {
  int n = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const uint32_t c = shot.at(shot.left + x, shot.top + y);
      const int dr = static_cast<int>((c >> 16) & 0xFF) - static_cast<int>((rgb >> 16) & 0xFF);
      const int dg = static_cast<int>((c >> 8) & 0xFF) - static_cast<int>((rgb >> 8) & 0xFF);
      const int db = static_cast<int>(c & 0xFF) - static_cast<int>(rgb & 0xFF);
      n += dr * dr + dg * dg + db * db < 900;
    }
  }
  return n;
}

constexpr uint32_t kBrand = 0x1A73E8;
constexpr uint32_t kDisabledFill = 0xB8C0CC;
constexpr uint32_t kWhite = 0xFFFFFF;

class ScreensTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitInstallChoice(&choice_));
    choice_.setupDownload = &download_;
    SetProcessRecorder(&traces_);
  }
  void TearDown() override {
    if (ui_ != nullptr && ui_->uiThread != nullptr &&
        WaitForSingleObject(ui_->uiThread, 0) == WAIT_TIMEOUT) {
      PostThreadMessageW(GetThreadId(ui_->uiThread), WM_QUIT, 0, 0);
      EXPECT_EQ(WaitForSingleObject(ui_->uiThread, 10000), WAIT_OBJECT_0);
    }
    SetProcessRecorder(nullptr);
    SetEnvironmentVariableW(L"ZETORA_TEST_UI_LIMIT_MS", nullptr);
  }

  void Start(bool bindSoftware = false) {
    ui_ = StartUi(GetModuleHandleW(nullptr), bindSoftware, SW_SHOWNORMAL, choice_, screens_);
    ASSERT_NE(ui_, nullptr);
    main_ = ui_->optionsWindow;
  }
  void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    PostMessageW(ui_->optionsWindow, message, wParam, lParam);
  }
  // Wine's tray takes seconds to remove an icon it has just shown.
  bool UiEnds(int ms = 20000) { return WaitForSingleObject(ui_->uiThread, ms) == WAIT_OBJECT_0; }
  // The progress screen, once the mode notice started the download phase.
  HWND Progress() { return WaitScreen(ui_->uiThread, 620, 282, main_); }
  // The cancel confirmation: answers with a click on one of its buttons.
  void AnswerPrompt(bool yes) {
    HWND prompt = WaitScreen(ui_->uiThread, 350, 154);
    ASSERT_NE(prompt, nullptr);
    ClickAt(prompt, yes ? 186 : 282, 118);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(prompt); }));
    // The screen acts on the answer once the prompt's loop has returned.
    Sleep(300);
  }

  InstallChoice choice_;
  DownloadControl download_;
  TraceRecorder traces_;
  ScreenController screens_;
  UiContext* ui_ = nullptr;
  HWND main_ = nullptr;
};

// Mode 0 needs no click: the progress screen opens and the default choice
// is committed with every option set.
TEST_F(ScreensTest, ModeZeroCommitsAtOnceAndShowsTheDownload) {
  Start();
  ASSERT_NE(main_, nullptr);
  // The action waits, disabled, for the mode.
  EXPECT_TRUE(WaitUntil([] { return IsDisabled("vxwebinstall_main", "button_setup"); }));
  Post(kMsgModeNotice, 0);
  ASSERT_EQ(WaitForSingleObject(choice_.goEvent, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(choice_.installDirectory, DefaultInstallDirectory());
  EXPECT_EQ(choice_.desktopShortcut + choice_.quickLaunch + choice_.defaultBrowser, 3);
  HWND progress = Progress();
  ASSERT_NE(progress, nullptr);
  EXPECT_FALSE(IsWindowVisible(main_));
  for (const wchar_t* trace : {L"imd", L"awm", L"pir", L"ipd", L"awp"}) {
    EXPECT_TRUE(traces_.Has(trace)) << trace;
  }

  // The download percent is polled: 50 shows 40 %, 100 shows 80 %.
  choice_.downloadPercent = 50;
  EXPECT_TRUE(WaitUntil([] { return TextOf("vxwebinstall_proc", "percent") == L"40%"; }));
  dui::screenshot at40 = Shoot(progress, "screen_progress_download.bmp");
  // The bar (x 32..524, y 188..196) is filled to 40 %: brand blue at 30 %,
  // the empty track at 60 %.
  EXPECT_GT(CountNear(at40, 32, 188, 32 + 492 * 3 / 10, 196, kBrand), 492 * 3 / 10 * 4);
  EXPECT_EQ(CountNear(at40, 32 + 492 * 6 / 10, 188, 524, 196, kBrand), 0);

  // A download that retries without bytes shows the red note right of the
  // caption (x 360..588, y 152..172) until bytes come again.
  const auto reconnectShown = [] {
    dui::ctrl_base* note = Control("vxwebinstall_proc", "reconnect");
    return note != nullptr && note->is_visible();
  };
  // Thin 12-pixel glyphs: counted by their red cast, not their exact colour.
  const auto reddish = [](const dui::screenshot& shot) {
    int n = 0;
    for (int y = 152; y < 172; ++y) {
      for (int x = 360; x < 588; ++x) {
        const uint32_t c = shot.at(shot.left + x, shot.top + y);
        n += static_cast<int>((c >> 16) & 0xFF) - static_cast<int>((c >> 8) & 0xFF) > 40;
      }
    }
    return n;
  };
  EXPECT_EQ(reddish(at40), 0);
  InterlockedExchange(&download_.stalled, 1);
  EXPECT_TRUE(WaitUntil(reconnectShown));
  EXPECT_EQ(TextOf("vxwebinstall_proc", "reconnect"),
            L"\x7F51\x7EDC\x8FDE\x63A5\x4E2D\x65AD\xFF0C\x6B63\x5728\x91CD\x8BD5\x2026");
  dui::screenshot reconnecting = Shoot(progress, "screen_progress_reconnect.bmp");
  EXPECT_GT(reddish(reconnecting), 200);
  InterlockedExchange(&download_.stalled, 0);
  EXPECT_TRUE(WaitUntil([&] { return !reconnectShown(); }));
  EXPECT_EQ(reddish(Shoot(progress, "screen_progress_reconnected.bmp")), 0);
  EXPECT_TRUE(traces_.Has(L"rcn"));

  // The go request goes on at once; the installation phase fills 80 to 100.
  Post(kMsgGoRequest);
  EXPECT_EQ(WaitForSingleObject(choice_.goEvent, 5000), WAIT_OBJECT_0);
  Post(kMsgPhaseNotice, 7);
  EXPECT_TRUE(WaitUntil([] { return IsDisabled("vxwebinstall_proc", "close"); }));
  EXPECT_EQ(TextOf("vxwebinstall_proc", "percent"), L"80%");
  dui::screenshot at80 = Shoot(progress, "screen_progress_install.bmp");
  EXPECT_GT(CountNear(at80, 32, 188, 32 + 492 * 7 / 10, 196, kBrand), 492 * 7 / 10 * 4);

  // The package's progress blocks: only well-formed ones count.
  const auto send = [&](ULONG_PTR id, DWORD percent, DWORD second, DWORD size) {
    const DWORD values[2] = {percent, second};
    COPYDATASTRUCT data = {id, size, const_cast<DWORD*>(values)};
    SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  };
  send(10001, 50, 0, 8);
  EXPECT_EQ(TextOf("vxwebinstall_proc", "percent"), L"90%");
  send(10002, 60, 0, 8);
  send(10001, 60, 1, 8);
  send(10001, 60, 0, 4);
  send(10001, 0xFFFFFFFF, 0, 8);
  COPYDATASTRUCT empty = {10001, 8, nullptr};
  SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty));
  EXPECT_EQ(TextOf("vxwebinstall_proc", "percent"), L"90%");
  send(10001, 100, 0, 8);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(progress); }));

  Post(kMsgEndNotice, kEndCompleted, 0);
  EXPECT_TRUE(UiEnds());
  EXPECT_TRUE(IsSignalled(ui_->uiEndedEvent));
}

// Modes 1 to 4: the action button's picture and hint, the custom panel with
// the directory locked in an update, and the panel's fixed place.
TEST_F(ScreensTest, ModesShowTheirActionAndTheCustomPanelOpensOnce) {
  Start();
  dui::screenshot waiting = Shoot(main_, "screen_options_waiting.bmp");
  // The action button (210..410 x 148..192) waits disabled (grey).
  EXPECT_GT(CountNear(waiting, 230, 150, 390, 190, kDisabledFill), 2000);

  Post(kMsgModeNotice, 2);
  EXPECT_TRUE(WaitUntil([] { return !IsDisabled("vxwebinstall_main", "button_setup"); }));
  std::wstring hint;
  LookupString(&hint, 178);
  EXPECT_EQ(TextOf("vxwebinstall_main", "tips"), hint);
  // The enabled picture shows with the next paint of the UI thread.
  dui::screenshot update = Shoot(main_, "screen_options.bmp");
  WaitUntil([&] {
    update = Shoot(main_, "screen_options.bmp");
    return CountNear(update, 230, 150, 390, 190, kBrand) > 2000;
  });
  EXPECT_GT(CountNear(update, 230, 150, 390, 190, kBrand), 2000);
  EXPECT_EQ(CountNear(update, 230, 150, 390, 190, kDisabledFill), 0);

  ClickNotice(main_, "button_custom");
  EXPECT_TRUE(WaitUntil([&] {
    RECT r;
    GetWindowRect(main_, &r);
    return r.bottom - r.top == 443;
  }));
  auto* panel = dynamic_cast<dui::dui_ctrl_panel*>(Control("vxwebinstall_main", "adupnbtm"));
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return panel->area().top == 121 + 160; }, 3000));
  EXPECT_TRUE(IsDisabled("vxwebinstall_main", "button_ll"));
  EXPECT_TRUE(IsDisabled("vxwebinstall_main", "button_custom"));
  // The registered directory of an installed product, else the default.
  std::wstring shown = ProductDetection(nullptr).ReadInstallDir();
  if (shown.empty()) shown = DefaultInstallDirectory();
  EXPECT_EQ(TextOf("vxwebinstall_main", "EditSavePath"), shown);
  EXPECT_EQ(TextOf("vxwebinstall_main", "freespace").find(L"\x6240\x9700"), 0u);
  dui::screenshot open = Shoot(main_, "screen_options_custom.bmp");
  // The directory field's frame (y 281 + 40) is in the locked colour.
  EXPECT_GT(CountNear(open, 40, 321, 480, 322, 0xBAD2E6), 400);

  // The licence: "xkxy" opens it once; after it closes the link works again.
  ClickNotice(main_, "xkxy");
  HWND licence = WaitScreen(ui_->uiThread, 620, 400);
  ASSERT_NE(licence, nullptr);
  EXPECT_TRUE(IsDisabled("vxwebinstall_main", "xkxy"));
  Shoot(licence, "screen_licence.bmp");
  ClickNotice(licence, "close");
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(licence); }));
  EXPECT_FALSE(IsDisabled("vxwebinstall_main", "xkxy"));
  RECT afterLicence;
  GetWindowRect(main_, &afterLicence);
  EXPECT_EQ(afterLicence.bottom - afterLicence.top, 443);

  // Opening it again (as the progress screen does) keeps it in place.
  Post(kMsgCustomFromProgress);
  dui::pump(1500);
  EXPECT_EQ(panel->area().top, 121 + 160);

  // The action commits the shown directory with the product folder.
  ClickNotice(main_, "button_setup");
  ASSERT_EQ(WaitForSingleObject(choice_.goEvent, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(choice_.installDirectory, WithProductFolder(shown));
  EXPECT_TRUE(traces_.Has(L"setup"));
  EXPECT_TRUE(traces_.Has(L"deawm"));
}

// Going back from the progress screen opens a second options screen whose
// commit carries the box the user unticked there.
TEST_F(ScreensTest, GoingBackAndConfirmingKeepsAnUntickedOption) {
  Start();
  Post(kMsgModeNotice, 0);
  ASSERT_EQ(WaitForSingleObject(choice_.goEvent, 5000), WAIT_OBJECT_0);
  HWND progress = Progress();
  ASSERT_NE(progress, nullptr);
  ClickNotice(progress, "button_custom");
  HWND second = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    second = ui_->optionsWindow;
    return second != main_ && second != nullptr && IsWindowVisible(second);
  }));
  EXPECT_FALSE(IsWindowVisible(progress));
  EXPECT_TRUE(WaitUntil([&] {
    auto* panel = dynamic_cast<dui::dui_ctrl_panel*>(Control("vxwebinstall_main", "adupnbtm"));
    return panel && panel->area().top == 281 && panel->remaining_steps() == 0;
  }));
  // The desktop-shortcut box, clicked where the user sees it.
  ClickAt(second, 224 + 6, 281 + 116 + 8);
  dui::pump(300);

  // The driver's go request now waits for the user.
  PostMessageW(second, kMsgGoRequest, 0, 0);
  EXPECT_EQ(WaitForSingleObject(choice_.goEvent, 500), static_cast<DWORD>(WAIT_TIMEOUT));
  // The tray can no longer show the progress screen.
  PostMessageW(progress, WM_COMMAND, kTrayItemShow, 0);
  dui::pump(300);
  EXPECT_FALSE(IsWindowVisible(progress));

  ClickNotice(second, "button_setup");
  ASSERT_EQ(WaitForSingleObject(choice_.goEvent, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(choice_.desktopShortcut, 0);
  EXPECT_EQ(choice_.quickLaunch, 1);
  EXPECT_EQ(choice_.defaultBrowser, 1);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(progress) != FALSE; }));

  Post(kMsgPhaseNotice, 8);
  EXPECT_TRUE(UiEnds());
}

// Every way to cancel reaches the running download, and declining changes
// nothing.
TEST_F(ScreensTest, CancelFromTheOptionsAndFromTheTray) {
  Start();
  Post(kMsgModeNotice, 1);
  EXPECT_TRUE(WaitUntil([] { return !IsDisabled("vxwebinstall_main", "button_setup"); }));
  ClickNotice(main_, "close");
  AnswerPrompt(false);
  EXPECT_EQ(choice_.cancelRequested, 0);
  // Esc on the prompt is "no" as well.
  PostMessageW(main_, WM_COMMAND, IDCANCEL, 0);
  HWND prompt = WaitScreen(ui_->uiThread, 350, 154);
  ASSERT_NE(prompt, nullptr);
  Shoot(prompt, "screen_cancel.bmp");
  PostMessageW(prompt, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(prompt); }));
  EXPECT_EQ(choice_.cancelRequested, 0);
  EXPECT_TRUE(traces_.Has(L"qxclose"));

  ClickNotice(main_, "close");
  AnswerPrompt(true);
  EXPECT_EQ(choice_.cancelRequested, 1);
  EXPECT_EQ(download_.cancel, 1);
  EXPECT_TRUE(IsSignalled(choice_.cancelEvent));
  EXPECT_FALSE(IsWindowVisible(main_));
  EXPECT_TRUE(traces_.Has(L"qdclose"));
}

TEST_F(ScreensTest, TrayHidesShowsAndCancels) {
  Start();
  Post(kMsgModeNotice, 5);
  HWND progress = Progress();
  ASSERT_NE(progress, nullptr);
  ClickNotice(progress, "close");
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(progress); }));
  PostMessageW(progress, kMsgTrayCallback, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(progress) != FALSE; }));

  // The tray menu: two items while downloading, only "show" once installing.
  const auto menuItems = [&]() -> int {
    PostMessageW(progress, kMsgTrayCallback, 0, WM_RBUTTONUP);
    HWND menu = nullptr;
    WaitUntil([&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); });
    if (menu == nullptr) return -1;
    const int items = GetMenuItemCount(reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0)));
    PostMessageW(progress, WM_CANCELMODE, 0, 0);
    WaitUntil([&] { return !IsWindowVisible(menu); });
    return items;
  };
  EXPECT_EQ(menuItems(), 2);

  PostMessageW(progress, WM_COMMAND, kTrayItemExit, 0);
  AnswerPrompt(false);
  EXPECT_EQ(choice_.cancelRequested, 0);
  Post(kMsgPhaseNotice, 7);
  dui::pump(200);
  EXPECT_EQ(menuItems(), 1);
  PostMessageW(progress, WM_COMMAND, kTrayItemExit, 0);
  AnswerPrompt(true);
  EXPECT_EQ(choice_.cancelRequested, 1);
  EXPECT_EQ(download_.cancel, 1);
  EXPECT_FALSE(IsWindowVisible(progress));
}

// An hour without an end cancels the run the way the user would and closes
// the interface (the hour is shortened for the test).
TEST_F(ScreensTest, TheHourLimitCancelsAndCloses) {
  SetEnvironmentVariableW(L"ZETORA_TEST_UI_LIMIT_MS", L"600");
  Start();
  Post(kMsgModeNotice, 0);
  ASSERT_NE(Progress(), nullptr);
  EXPECT_TRUE(UiEnds());
  EXPECT_EQ(choice_.cancelRequested, 1);
  EXPECT_EQ(download_.cancel, 1);
  EXPECT_TRUE(IsSignalled(choice_.cancelEvent));
  EXPECT_TRUE(IsSignalled(ui_->uiEndedEvent));
}

// End notices: a failure the user did not cause opens the failure window,
// whose closing ends the interface; the others close it at once.
TEST_F(ScreensTest, EndNoticesAndTheirWindows) {
  const struct {
    int reason;
    LPARAM cancelled;
    bool failureWindow;
  } cases[] = {{kEndUpToDate, 0, false}, {kEndSetupDownloadFailed, 1, false},
               {kEndSetupDownloadFailed, 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason * 10 + c.cancelled);
    InitInstallChoice(&choice_);
    Start();
    Post(kMsgModeNotice, 0);
    HWND progress = Progress();
    ASSERT_NE(progress, nullptr);
    Post(kMsgEndNotice, c.reason, c.cancelled);
    if (c.failureWindow) {
      ASSERT_TRUE(WaitUntil([&] { return !IsWindow(progress); }, 20000));
      HWND failure = WaitScreen(ui_->uiThread, 620, 282, main_);
      ASSERT_NE(failure, nullptr);
      dui::screenshot shot = Shoot(failure, "screen_failure.bmp");
      // The error picture (174..446 x 148..172) carries red.
      EXPECT_GT(CountNear(shot, 174, 148, 446, 172, 0xE5484D), 20);
      EXPECT_EQ(WaitForSingleObject(ui_->uiThread, 300), static_cast<DWORD>(WAIT_TIMEOUT));
      ClickNotice(failure, "close");
    }
    EXPECT_TRUE(UiEnds());
    EXPECT_EQ(traces_.Has(L"insfail"), c.failureWindow);
  }
}

// Keys as the keyboard delivers them, to the foreground window.
void Press(WORD key, WORD modifier = 0) {
  INPUT inputs[4] = {};
  int n = 0;
  const auto add = [&](WORD vk, DWORD flags) {
    inputs[n].type = INPUT_KEYBOARD;
    inputs[n].ki.wVk = vk;
    inputs[n].ki.dwFlags = flags;
    ++n;
  };
  if (modifier) add(modifier, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (modifier) add(modifier, KEYEVENTF_KEYUP);
  SendInput(n, inputs, sizeof(INPUT));
  dui::pump(150);
}

std::string FocusedIn(const char* window) {
  dui::ctrl_dialog* dialog = dui::skin_manager::instance()->find_dialog(window);
  return dialog && dialog->focused() ? dialog->focused()->name() : std::string("-");
}

// The options screen by keyboard alone: Tab to the custom-install button,
// Enter opens the panel; Tab to a box, Space unticks it; Shift+Tab back to
// the action button, Enter commits. Esc opens the cancel question and
// Alt+F4 answers it as its close box does.
TEST_F(ScreensTest, KeyboardAloneOpensThePanelUnticksAndInstalls) {
  Start();
  Post(kMsgModeNotice, 4);
  ASSERT_TRUE(WaitUntil([] { return !IsDisabled("vxwebinstall_main", "button_setup"); }));
  SetForegroundWindow(main_);
  dui::pump(300);

  Press(VK_ESCAPE);
  HWND prompt = WaitScreen(ui_->uiThread, 350, 154);
  ASSERT_NE(prompt, nullptr);
  dui::pump(300);
  Press(VK_F4, VK_MENU);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(prompt); }));
  EXPECT_TRUE(traces_.Has(L"qxclose"));
  EXPECT_EQ(choice_.cancelRequested, 0);
  SetForegroundWindow(main_);
  dui::pump(300);

  for (const char* expected : {"button_setup", "xkxy", "button_custom"}) {
    Press(VK_TAB);
    EXPECT_EQ(FocusedIn("vxwebinstall_main"), expected);
  }
  dui::screenshot ring = Shoot(main_, "screen_keyboard_focus.bmp");
  // The ring: 2 brand pixels wide, 2 pixels around the button (508..588 x
  // 248..268), over the white body.
  EXPECT_GT(CountNear(ring, 504, 244, 592, 246, kBrand), 150);
  EXPECT_GT(CountNear(ring, 504, 270, 592, 272, kBrand), 150);

  Press(VK_RETURN);
  auto* panel = dynamic_cast<dui::dui_ctrl_panel*>(Control("vxwebinstall_main", "adupnbtm"));
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return panel->area().top == 121 + 160 && panel->remaining_steps() == 0; }));
  // The directory is locked in an update: Tab passes "更改目录".
  Press(VK_TAB);
  EXPECT_EQ(FocusedIn("vxwebinstall_main"), "select_mrll");
  Press(VK_SPACE);
  Shoot(main_, "screen_keyboard_panel.bmp");
  Press(VK_TAB, VK_SHIFT);
  EXPECT_EQ(FocusedIn("vxwebinstall_main"), "xkxy");
  Press(VK_TAB, VK_SHIFT);
  EXPECT_EQ(FocusedIn("vxwebinstall_main"), "button_setup");
  Press(VK_RETURN);
  ASSERT_EQ(WaitForSingleObject(choice_.goEvent, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(choice_.defaultBrowser, 0);
  EXPECT_EQ(choice_.desktopShortcut, 1);
  EXPECT_EQ(choice_.quickLaunch, 1);
}

// What a screen reader finds through AccessibleObjectFromWindow: the
// controls with their Chinese names, roles and states, the progress value,
// the focus, and the action button's default action, which installs.
TEST_F(ScreensTest, ScreenReaderReadsTheScreensAndInstalls) {
  // MinGW's oleacc library gives no usable IID_IAccessible.
  const GUID iidAccessible = {
      0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  Start();
  Post(kMsgModeNotice, 4);
  ASSERT_TRUE(WaitUntil([] { return !IsDisabled("vxwebinstall_main", "button_setup"); }));
  struct Element {
    long id;
    long role;
    long state;
    std::wstring value;
  };
  const auto read = [&](HWND window, std::map<std::wstring, Element>* out) {
    IAccessible* object = nullptr;
    EXPECT_EQ(AccessibleObjectFromWindow(window, OBJID_CLIENT, iidAccessible,
                                         reinterpret_cast<void**>(&object)), S_OK);
    if (object == nullptr) return object;
    long count = 0;
    object->get_accChildCount(&count);
    for (long id = 1; id <= count; ++id) {
      VARIANT child;
      child.vt = VT_I4;
      child.lVal = id;
      BSTR name = nullptr, value = nullptr;
      VARIANT role, state;
      object->get_accName(child, &name);
      object->get_accRole(child, &role);
      object->get_accState(child, &state);
      object->get_accValue(child, &value);
      (*out)[name ? name : L""] = Element{id, role.lVal, state.lVal, value ? value : L""};
      SysFreeString(name);
      SysFreeString(value);
    }
    return object;
  };
  std::map<std::wstring, Element> options;
  IAccessible* object = read(main_, &options);
  ASSERT_NE(object, nullptr);
  struct Expected {
    const wchar_t* name;
    long role;
    long stateSet, stateClear;
  };
  const Expected expected[] = {
      {L"\x4E00\x952E\x5347\x7EA7", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE,
       STATE_SYSTEM_UNAVAILABLE},                                                   // 一键升级
      {L"\x5173\x95ED", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, 0},           // 关闭
      {L"\x6700\x5C0F\x5316", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, 0},     // 最小化
      {L"\x7528\x6237\x8BB8\x53EF\x534F\x8BAE", ROLE_SYSTEM_LINK, STATE_SYSTEM_LINKED, 0},  // 用户许可协议
      {L"\x81EA\x5B9A\x4E49\x5B89\x88C5", ROLE_SYSTEM_PUSHBUTTON, 0, 0},             // 自定义安装
      {L"\x5B89\x88C5\x9009\x9879", ROLE_SYSTEM_GROUPING, STATE_SYSTEM_INVISIBLE, 0},  // 安装选项 (closed)
      {L"\x8BBE\x4E3A\x9ED8\x8BA4\x6D4F\x89C8\x5668", ROLE_SYSTEM_CHECKBUTTON,
       STATE_SYSTEM_CHECKED | STATE_SYSTEM_INVISIBLE, STATE_SYSTEM_FOCUSABLE},       // 设为默认浏览器
      {L"\x5B89\x88C5\x5373\x8868\x793A\x540C\x610F", ROLE_SYSTEM_STATICTEXT, 0, 0},  // 安装即表示同意
  };
  for (const Expected& e : expected) {
    const auto found = options.find(e.name);
    ASSERT_NE(found, options.end()) << "no element named " << std::wstring(e.name).size();
    EXPECT_EQ(found->second.role, e.role);
    EXPECT_EQ(found->second.state & e.stateSet, e.stateSet);
    EXPECT_EQ(found->second.state & e.stateClear, 0);
  }
  // Focus by the reader, then its default action on the action button.
  VARIANT action;
  action.vt = VT_I4;
  action.lVal = options[L"\x4E00\x952E\x5347\x7EA7"].id;
  EXPECT_EQ(object->accSelect(SELFLAG_TAKEFOCUS, action), S_OK);
  VARIANT focus;
  EXPECT_EQ(object->get_accFocus(&focus), S_OK);
  EXPECT_EQ(focus.vt == VT_I4 ? focus.lVal : -1, action.lVal);
  long left = 0, top = 0, width = 0, height = 0;
  object->accLocation(&left, &top, &width, &height, action);
  RECT window;
  GetWindowRect(main_, &window);
  EXPECT_EQ(left - window.left, 210);
  EXPECT_EQ(width, 200);
  EXPECT_EQ(object->accDoDefaultAction(action), S_OK);
  ASSERT_EQ(WaitForSingleObject(choice_.goEvent, 5000), WAIT_OBJECT_0);
  object->Release();

  // The progress screen: the status picture's name and the bar's value.
  Post(kMsgPhaseNotice, kStateAttachmentDownload);
  HWND progress = Progress();
  ASSERT_NE(progress, nullptr);
  choice_.downloadPercent = 50;
  dui::pump(400);
  std::map<std::wstring, Element> proc;
  IAccessible* progressObject = read(progress, &proc);
  ASSERT_NE(progressObject, nullptr);
  std::wstring downloading;
  LookupString(&downloading, 180);
  EXPECT_EQ(proc.count(downloading), 1u);
  const auto bar = proc.find(L"\x5B89\x88C5\x8FDB\x5EA6");  // 安装进度
  ASSERT_NE(bar, proc.end());
  EXPECT_EQ(bar->second.role, ROLE_SYSTEM_PROGRESSBAR);
  EXPECT_EQ(bar->second.value, L"40%");
  progressObject->Release();
  CoUninitialize();
}

BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM parameter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  return MatchWindow(window, parameter);
}

// Answers the quick-install prompt with "取消" once it shows.
DWORD WINAPI DeclineQuickInstall(void*) {
  WindowQuery query{0, 350, 154, nullptr, nullptr};
  WaitUntil([&] {
    EnumWindows(MatchProcessWindow, reinterpret_cast<LPARAM>(&query));
    return query.found != nullptr;
  }, 10000);
  if (query.found == nullptr) return 1;
  dui::pump(300);
  Shoot(query.found, "screen_quick_install.bmp");
  ClickAt(query.found, 282, 118);
  return 0;
}

// "/B": the quick-install prompt comes first; declining cancels before the
// options window was ever shown, and no second prompt follows.
TEST_F(ScreensTest, QuickInstallPromptDeclined) {
  // The prompt runs while the options window is created, before StartUi
  // returns: a helper thread answers it.
  HANDLE responder = CreateThread(nullptr, 0, DeclineQuickInstall, nullptr, 0, nullptr);
  Start(true);
  WaitForSingleObject(responder, 10000);
  DWORD answered = 1;
  GetExitCodeThread(responder, &answered);
  CloseHandle(responder);
  EXPECT_EQ(answered, 0u);
  EXPECT_EQ(choice_.cancelRequested, 1);
  EXPECT_TRUE(IsSignalled(choice_.cancelEvent));
  for (const wchar_t* trace : {L"awkbaz", L"kqxclose", L"uckbaz"}) EXPECT_TRUE(traces_.Has(trace));
  dui::pump(500);
  EXPECT_FALSE(IsWindowVisible(main_));
  EXPECT_EQ(FindScreen(ui_->uiThread, 350, 154), nullptr);
  // The driver sees the flag and ends the run.
  Post(kMsgEndNotice, kEndCancelled, 1);
  EXPECT_TRUE(UiEnds());
}

DWORD WINAPI EndAtOnce(void*) { return 0; }

// A user interface that cannot start, or ends without an answer, still lets
// the driver go on: a silent run installs with the defaults, an interactive
// one ends as cancelled.
TEST(ScreensDriverContract, UiThreadThatEndsReleasesTheDriver) {
  for (const BYTE silent : {0, 1}) {
    InstallChoice choice;
    ASSERT_TRUE(InitInstallChoice(&choice));
    choice.silent = silent;
    UiContext* ui = StartUiThread(GetModuleHandleW(nullptr), L"", SW_SHOWNORMAL, choice,
                                  EndAtOnce, 5000);
    WindowDriverUi driverUi(ui);
    EXPECT_EQ(driverUi.WaitUserCommand(), silent ? kUserCommandInstall : kUserCommandCancel);
    EXPECT_EQ(choice.cancelRequested, silent ? 0 : 1);
    if (silent) {
      EXPECT_EQ(choice.installDirectory, DefaultInstallDirectory());
    }
    driverUi.WaitForUiEnd();  // returns: the thread has ended
  }
}

}  // namespace
