#include "screens/screen_controller_win.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "dui/skin_manager.h"
#include "dui/skin_unpack.h"
#include "build_config.h"
#include "screens/dialogs_win.h"
#include "screens/dlg_installing_win.h"
#include "screens/dlg_setting_win.h"
#include "screens/screen_rules.h"
#include "screens/screen_support_win.h"
#include "screens/string_table.h"
#include "sys/diag.h"
#include "sys/test_setting_win.h"

namespace {

// The skin windows the screens cannot do without: a description that lacks
// one would leave a bare dialog without its buttons.
const char* const kRequiredSkinWindows[] = {
    "vxwebinstall_main", "vxwebinstall_proc", "vxwebinstall_qxaz",
    "vxwebinstall_kbaz", "vxwebinstall_fail",
};

bool StartCompleteSkin(HINSTANCE instance) {
  if (!dui::start_skin(instance, dui::default_skin_folder())) return false;
  for (const char* window : kRequiredSkinWindows) {
    if (dui::skin_manager::instance()->find_dialog(window) == nullptr) {
      DiagPrintf(L"UI: skin has no window %hs\r\n", window);
      return false;
    }
  }
  return true;
}

// An installer whose skin cannot be loaded is damaged: the user is told so,
// and where a good copy is, instead of an options window without buttons.
void ShowDamagedInstallerMessage() {
  // The texts come from the program itself: an override file of a skin
  // that did not load is not to be trusted, or was never read.
  ProcessStringOverrides().Clear();
  std::wstring text;
  std::wstring title;
  LookupString(&text, kStringInstallerDamaged);
  LookupString(&title, kStringInstallHintTitle);
  text += L"\r\n";
  text += build_config::kLandingPage;
  MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void CloseScreenWindow(const WindowDialog* screen) {
  if (screen != nullptr && screen->IsWindowAlive()) DestroyWindow(screen->window());
}

}  // namespace

ScreenController::ScreenController() = default;

ScreenController::~ScreenController() = default;

int ScreenController::Run(UiContext& contextRecord) {
  UiContext* context = &contextRecord;
  context_ = context;
  updateMode_ = false;
  panelClosedKnown_ = false;
  UiTrace(L"buisred");
  const HRESULT com = CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  MSG message;
  PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue

  const bool skinLoaded = StartCompleteSkin(context->instance);
  UiTrace(skinLoaded ? L"ass" : L"assfail");
  int exitCode = 0;
  if (!skinLoaded) {
    // The user interface cannot start. An interactive run ends as cancelled
    // (the driver need not wait for the message to be read); a silent run
    // needs no window and goes on.
    DiagPrintf(L"UI: skin not loaded\r\n");
    if (!context->choice->silent) {
      RequestCancel(context->choice);
      SetEvent(context->uiReadyEvent);
      ShowDamagedInstallerMessage();
    }
  } else {
    options_ = std::make_unique<CDlgSetting>(context, *this);
    // Test builds can make the window fail as it did in a freshly created
    // Wine prefix, which a test cannot bring about on purpose.
    const bool windowFails = TestSettingOr(ZETORA_TEST_VARIABLE("ZETORA_TEST_UI_FAILS"), 0) != 0;
    if (!windowFails && options_->Create(nullptr) != nullptr) {
      // Hidden in a silent run, and after the user declined the quick install.
      const bool hidden = context->choice->silent || context->choice->cancelRequested;
      ShowWindow(options_->window(), hidden ? SW_HIDE : context->showMode);
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (options_->PreTranslateMessage(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (message.message == WM_QUIT) exitCode = static_cast<int>(message.wParam);
    } else {
      DiagPrintf(L"UI: options window not created (%lu)\r\n", GetLastError());
    }
    FreeScreens();
  }
  // However the loop ended, the driver must not wait for this window again.
  context->optionsWindow = nullptr;
  SetEvent(context->uiEndedEvent);
  dui::skin_manager::release();
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}

void ScreenController::FreeScreens() {
  progress_.reset();
  returnOptions_.reset();
  options_.reset();
}

bool ScreenController::ShowProgressScreen() {
  if (!progress_) {
    auto screen = std::make_unique<CDlgInstalling>(context_, *this);
    if (screen->Create() == nullptr) return false;
    progress_ = std::move(screen);
  }
  if (context_->choice->silent) {
    progress_->Hide();
  } else {
    progress_->Show();
  }
  return true;
}

void ScreenController::ReturnToOptions() {
  if (!returnOptions_) {
    auto options = std::make_unique<CDlgSetting>(context_, *this);
    if (options->Create(nullptr) == nullptr) return;
    returnOptions_ = std::move(options);
  }
  SendMessageW(returnOptions_->window(), kMsgCustomFromProgress, 0, 0);
  if (!context_->choice->silent) ShowWindow(returnOptions_->window(), SW_SHOW);
}

void ScreenController::OnEndNotice(int endReason, bool cancelled, HWND owner) {
  UiTrace(L"ecd");
  if (!context_->choice->silent) {
    if (progress_) progress_->SetExitItem(false);
    if (EndNoticeShowsFailure(endReason, cancelled)) {
      CloseScreenWindow(progress_.get());
      UiTrace(L"insfail");
      // The failure window ends the interface when it closes; a window that
      // cannot open must not leave the run without an end.
      if (OpenFailureWindow(context_->instance, owner) != nullptr) return;
    }
  }
  CloseUi(0);
}

void ScreenController::CloseUi(int exitCode) {
  CloseScreenWindow(progress_.get());
  CloseScreenWindow(returnOptions_.get());
  CloseScreenWindow(options_.get());
  PostQuitMessage(exitCode);
}

void ScreenController::PostCloseUi() {
  HWND options = context_->optionsWindow;
  if (options != nullptr && IsWindow(options)) {
    PostMessageW(options, kMsgCloseUi, 0, 0);
  } else {
    CloseUi(0);
  }
}

dui::rect ScreenController::PanelClosedArea(const dui::rect& current) {
  if (!panelClosedKnown_) {
    panelClosed_ = current;
    panelClosedKnown_ = true;
  }
  return panelClosed_;
}
