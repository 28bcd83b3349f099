#include "screens/dlg_installing_win.h"

#include <cstddef>
#include <cwchar>
#include <string>

#include "dui/dui_panel.h"
#include "dui/dui_slider.h"
#include "net/download_control.h"
#include "screens/dialogs_win.h"
#include "screens/screen_controller_win.h"
#include "screens/screen_rules.h"
#include "screens/screen_support_win.h"
#include "screens/string_table.h"
#include "sys/test_setting_win.h"
#include "sys/text_format.h"

namespace {

const char kProcWindow[] = "vxwebinstall_proc";
constexpr UINT_PTR kPollTimer = 1003;
constexpr UINT_PTR kTimeLimitTimer = 1002;
constexpr UINT kPollPeriodMs = 100;
constexpr UINT kTimeLimitMs = 3600000;
// The record as every shell since Windows XP accepts it (952 bytes in a
// 32-bit program): up to the balloon's GUID, without the balloon icon.
constexpr DWORD kTrayRecordSize = offsetof(NOTIFYICONDATAW, guidItem) + sizeof(GUID);

const wchar_t kTrayTip[] = L"zetora\x6D4F\x89C8\x5668\x5728\x7EBF\x5B89\x88C5";  // zetora浏览器在线安装
const wchar_t kTrayBalloon[] = L"\x6B63\x5728\x4E0B\x8F7D\x5B89\x88C5\x7EC4\x4EF6...";  // 正在下载安装组件...

}  // namespace

CDlgInstalling::CDlgInstalling(UiContext* context, ScreenController& controller)
    : context_(context), controller_(controller) {}

CDlgInstalling::~CDlgInstalling() {
  if (IsWindowAlive()) DestroyWindow(window_);
}

HWND CDlgInstalling::Create() {
  return WindowDialog::Create(context_->instance, kScreenTemplateId, nullptr);
}

bool CDlgInstalling::ProcessMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise();
      *result = TRUE;
      return true;
    case WM_DESTROY:
      RemoveTrayIcon();
      return true;
    case WM_PAINT:
      return false;  // the skin paints
    case kMsgProgressReserved1:
    case kMsgProgressReserved2:
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == kTrayItemExit) {
        CancelFromTray();
      } else if (LOWORD(wParam) == kTrayItemShow) {
        if (!returned_to_options()) Show();
      }
      return true;
    case WM_TIMER:
      if (wParam == kPollTimer) {
        PostMessageW(window, kMsgDownloadProgress, 0, context_->choice->downloadPercent);
        ShowReconnecting(IsDownloadStalled(context_->choice->attachmentDownload) != 0 ||
                         IsDownloadStalled(context_->choice->setupDownload) != 0);
      } else if (wParam == kTimeLimitTimer) {
        KillTimer(window, kTimeLimitTimer);
        OnTimeLimit();
      }
      return true;
    case WM_LBUTTONDOWN:
      DragWindow(window, lParam);
      return true;
    case kMsgTrayCallback:
      OnTray(lParam);
      return true;
    case dui::SKIN_MSG_CLICK:
      OnClick(lParam);
      return true;
    case kMsgDownloadProgress: {
      int shown = 0;
      const std::uint32_t percent = static_cast<std::uint32_t>(lParam);
      if (DownloadShownPercent(percent, &shown)) ShowPercent(shown);
      if (percent == 100) KillTimer(window, kPollTimer);
      return true;
    }
    case kMsgProgressClose:
      controller_.CloseUi(1);
      return true;
    case kMsgInstallComplete:
      UiTrace(L"insc");
      controller_.CloseUi(0);
      return true;
  }
  return false;
}

void CDlgInstalling::Initialise() {
  UiTrace(L"ipd");
  PlaceScreenWindow(window_);
  SetWindowTextW(window_, kTrayTip);  // the title the tray icon shows as its tip
  UiTrace(L"awp");
  if (AttachSkin(kProcWindow, context_->instance, window_)) {
    // The tray icon stands for this window: no taskbar button.
    const LONG_PTR ex = GetWindowLongPtrW(window_, GWL_EXSTYLE);
    SetWindowLongPtrW(window_, GWL_EXSTYLE, (ex & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW)) |
                                                WS_EX_TOOLWINDOW);
    PlaceScreenWindow(window_);
  }
  if (!context_->choice->silent) {
    NOTIFYICONDATAW record;
    FillTrayRecord(&record);
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconAdded_ = Shell_NotifyIconW(NIM_ADD, &record) != FALSE;
  }
  SetTimer(window_, kPollTimer, kPollPeriodMs, nullptr);
  SetTimer(window_, kTimeLimitTimer,
           TestSettingOr(ZETORA_TEST_VARIABLE("ZETORA_TEST_UI_LIMIT_MS"), kTimeLimitMs), nullptr);
  SetControlVisible(kProcWindow, "reconnect", false);
  if (auto* status = SkinControl<dui::dui_ctrl_panel>(kProcWindow, "process_msg")) {
    status->set_image("text_downloading.png");
    status->set_access_name(kDownloadingName);
  }
  InvalidateRect(window_, nullptr, FALSE);
}

void CDlgInstalling::FillTrayRecord(NOTIFYICONDATAW* record) const {
  *record = NOTIFYICONDATAW{};
  record->cbSize = kTrayRecordSize;
  record->hWnd = window_;
  record->uID = kTrayIconId;
  record->uCallbackMessage = kMsgTrayCallback;
  record->hIcon = LoadIconW(context_->instance, MAKEINTRESOURCEW(kAppIconId));
  lstrcpynW(record->szTip, kTrayTip, ARRAYSIZE(record->szTip));
}

void CDlgInstalling::RemoveTrayIcon() {
  if (!trayIconAdded_ || window_ == nullptr) return;
  NOTIFYICONDATAW record = {};
  record.cbSize = kTrayRecordSize;
  record.hWnd = window_;
  record.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &record);
  trayIconAdded_ = false;
}

void CDlgInstalling::ConfirmDownloadPhase() {
  SetButtonDisabled(kProcWindow, "button_custom", false);
  SetControlVisible(kProcWindow, "button_custom", false);
  if (!returned_to_options()) SetEvent(context_->choice->goEvent);
}

void CDlgInstalling::EnterInstallPhase() {
  exitItem_ = false;
  // The download is over: its percent must not overwrite the install's.
  if (window_) KillTimer(window_, kPollTimer);
  ShowReconnecting(false);
  SetButtonDisabled(kProcWindow, "close", true);
  if (auto* status = SkinControl<dui::dui_ctrl_panel>(kProcWindow, "process_msg")) {
    status->set_image("text_installing.png");
    status->set_access_name(kInstallingName);
  }
  ShowPercent(80);
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void CDlgInstalling::ShowReconnecting(bool reconnecting) {
  if (reconnecting == reconnectShown_) return;
  reconnectShown_ = reconnecting;
  if (reconnecting) {
    std::wstring text;
    LookupString(&text, kStringReconnecting);
    // An override file without this text keeps the skin's own.
    if (!text.empty()) SetSkinText(kProcWindow, "reconnect", text);
    UiTrace(L"rcn");
  }
  SetControlVisible(kProcWindow, "reconnect", reconnecting);
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void CDlgInstalling::ShowPercent(int shown) {
  SetSkinText(kProcWindow, "percent", DecimalText(shown) + L"%");
  if (auto* bar = SkinControl<dui::dui_ctrl_slider>(kProcWindow, "ProgressSlider")) {
    bar->set_position(shown / 100.0);
  }
}

void CDlgInstalling::Show() {
  if (!window_) return;
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
}

void CDlgInstalling::Hide() {
  if (window_) ShowWindow(window_, SW_HIDE);
}

void CDlgInstalling::OnClick(LPARAM name) {
  if (IsClickOn(name, "close") || IsClickOn(name, "minimize")) {
    HideToTray();
  } else if (IsClickOn(name, "button_custom")) {
    ReturnToOptions();
  }
}

void CDlgInstalling::HideToTray() {
  Hide();
  if (!trayIconAdded_) return;
  NOTIFYICONDATAW record;
  FillTrayRecord(&record);
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
  lstrcpynW(record.szInfo, kTrayBalloon, ARRAYSIZE(record.szInfo));
  lstrcpynW(record.szInfoTitle, kTrayTip, ARRAYSIZE(record.szInfoTitle));
  record.uTimeout = 5000;
  record.dwInfoFlags = NIIF_NOSOUND;
  Shell_NotifyIconW(NIM_MODIFY, &record);
}

void CDlgInstalling::ReturnToOptions() {
  InterlockedExchange(&returnedToOptions_, 1);
  SetButtonDisabled(kProcWindow, "button_custom", false);
  SetControlVisible(kProcWindow, "button_custom", false);
  Hide();
  controller_.ReturnToOptions();
}

void CDlgInstalling::OnTray(LPARAM mouseMessage) {
  switch (static_cast<UINT>(mouseMessage)) {
    case WM_RBUTTONUP: {
      POINT cursor;
      GetCursorPos(&cursor);
      HMENU menu = LoadMenuW(context_->instance,
                             MAKEINTRESOURCEW(exitItem_ ? kTrayMenuWithExit : kTrayMenuShowOnly));
      if (menu == nullptr) return;
      if (!returned_to_options()) SetForegroundWindow(window_);
      TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window_, nullptr);
      // Lets the menu close when the user clicks elsewhere next time.
      PostMessageW(window_, WM_NULL, 0, 0);
      DestroyMenu(menu);
      break;
    }
    case WM_LBUTTONDBLCLK:
      if (!returned_to_options()) Show();
      break;
    default:
      break;
  }
}

void CDlgInstalling::CancelFromTray() {
  if (RunCancelConfirmation(context_->instance, window_) != kPromptYes) return;
  CancelRunningDownloads(context_->choice);
  InterlockedExchange(&context_->choice->cancelRequested, 1);
  Hide();
}

void CDlgInstalling::OnTimeLimit() {
  // An hour without an end: the run is cancelled as the user would, so the
  // driver stops waiting, and the interface closes the normal way.
  if (!IsWindowAlive()) return;
  RequestCancel(context_->choice);
  controller_.PostCloseUi();
}
