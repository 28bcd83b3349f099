#include "screens/dlg_setting_win.h"

#include <objbase.h>
#include <shlobj.h>

#include "app/driver_messages.h"
#include "app/product_detection_win.h"
#include "dui/ctrl_dialog.h"
#include "dui/ctrl_edit.h"
#include "dui/dui_button.h"
#include "dui/dui_check.h"
#include "dui/dui_panel.h"
#include "dui/skin_manager.h"
#include "screens/dialogs_win.h"
#include "screens/dlg_installing_win.h"
#include "screens/screen_controller_win.h"
#include "screens/screen_rules.h"
#include "screens/screen_support_win.h"
#include "screens/string_table.h"

namespace {

const char kMainWindow[] = "vxwebinstall_main";
constexpr int kOpenHeight = 443;
constexpr int kPanelDrop = 160;  // the panel's top row stays under the body's outline
const char kLockedFrameColor[] = "186,210,230";
const wchar_t kWindowTitle[] = L"zetora\x6D4F\x89C8\x5668\x4E0B\x8F7D\x7EC4\x4EF6";  // zetora浏览器下载组件

}  // namespace

CDlgSetting::CDlgSetting(UiContext* context, ScreenController& controller)
    : context_(context), controller_(controller) {}

CDlgSetting::~CDlgSetting() {
  if (IsWindowAlive()) DestroyWindow(window_);
}

HWND CDlgSetting::Create(HWND owner) {
  return WindowDialog::Create(context_->instance, kScreenTemplateId, owner);
}

bool CDlgSetting::PreTranslateMessage(MSG* message) {
  return IsWindowAlive() && IsDialogMessageW(window_, message);
}

bool CDlgSetting::ProcessMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise();
      *result = TRUE;
      return true;
    case WM_DESTROY:
      if (context_->optionsWindow == window) context_->optionsWindow = nullptr;
      return true;
    case WM_COPYDATA:
      OnInstallProgress(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
      *result = TRUE;
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) ConfirmCancel(L"menuclose");
      return true;  // IDOK (Enter) is ignored
    case WM_LBUTTONDOWN:
      DragWindow(window, lParam);
      return true;
    case kMsgPhaseNotice:
      OnPhaseNotice(static_cast<int>(wParam));
      return true;
    case kMsgEndNotice:
      controller_.OnEndNotice(static_cast<int>(wParam), lParam != 0, window);
      return true;
    case kMsgModeNotice:
      OnModeNotice(static_cast<int>(wParam));
      return true;
    case kMsgGoRequest:
      // Without a progress screen nobody else would answer: the driver
      // goes on at once.
      if (CDlgInstalling* progress = controller_.progress_screen()) {
        progress->ConfirmDownloadPhase();
      } else {
        SetEvent(context_->choice->goEvent);
      }
      return true;
    case kMsgCustomFromProgress:
      if (auto* setup = SkinControl<dui::dui_ctrl_button>(kMainWindow, "button_setup")) {
        setup->set_image("btn_setup.png", 3);
        setup->set_access_name(kActionInstallName);
        setup->set_disabled(false);
        setup->set_visible(true);
      }
      OpenCustomPanel();
      return true;
    case kMsgCloseUi:
      controller_.CloseUi(static_cast<int>(wParam));
      return true;
    case dui::SKIN_MSG_CLICK:
      OnClick(lParam);
      return true;
    case dui::SKIN_MSG_CHECK_CLICK:
      ReadOptionBoxes();
      return true;
    case dui::SKIN_MSG_EDIT_CHANGED:
      if (IsClickOn(lParam, "EditSavePath")) OnDirectoryTyped();
      return true;
  }
  return false;
}

void CDlgSetting::Initialise() {
  UiTrace(L"imd");
  context_->optionsWindow = window_;
  if (context_->bindSoftware) {
    if (RunQuickInstallPrompt(context_->instance) == kPromptNo) {
      UiTrace(L"uckbaz");
      InterlockedExchange(&context_->choice->cancelRequested, 1);
      SetEvent(context_->choice->cancelEvent);
      // The driver sees the flag at its start and ends the run, which
      // closes this window; asking "cancel?" again would only repeat the
      // question the user just answered.
      ShowWindow(window_, SW_HIDE);
    }
  }
  SetEvent(context_->uiReadyEvent);
  UiTrace(L"awm");
  AttachSkin(kMainWindow, context_->instance, window_);
  PlaceScreenWindow(window_);
  installDirectory_ = DefaultInstallDirectory();
  SetWindowTextW(window_, kWindowTitle);
  if (auto* setup = SkinControl<dui::dui_ctrl_button>(kMainWindow, "button_setup")) {
    setup->set_image("btn_setup.png", 3);
    setup->set_disabled(true);
  }
  SetButtonDisabled(kMainWindow, "button_custom", true);
  SetEvent(context_->uiReadyEvent);
}

void CDlgSetting::OnModeNotice(int mode) {
  UiTrace(L"pir");
  if (context_->choice->silent) {
    Commit();
    return;
  }
  const ModeLook look = LookOfMode(mode);
  if (!look.known) return;
  if (look.updateMode) controller_.set_update_mode();
  for (const char* name : {"button_setup", "button_update"}) {
    auto* action = SkinControl<dui::dui_ctrl_button>(kMainWindow, name);
    if (action == nullptr || look.actionPicture == nullptr) continue;
    action->set_image(look.actionPicture, 3);
    action->set_access_name(look.actionName);
    action->set_disabled(false);
  }
  if (look.tipsString != 0) {
    std::wstring tips;
    LookupString(&tips, look.tipsString);
    if (auto* panel = SkinControl<dui::dui_ctrl_panel>(kMainWindow, "tips")) {
      panel->set_text_color("255,0,0");
      panel->set_text(tips);
    }
  }
  SetButtonDisabled(kMainWindow, "button_custom", !look.customEnabled);
  if (!look.customEnabled) SetControlVisible(kMainWindow, "button_custom", false);
  if (look.startsAtOnce) {
    controller_.ShowProgressScreen();
    Commit();
  }
  SetButtonDisabled(kMainWindow, "close", false);
  InvalidateRect(window_, nullptr, FALSE);
}

void CDlgSetting::OnPhaseNotice(int state) {
  switch (state) {
    case kStateAttachmentDownload:
      controller_.ShowProgressScreen();
      break;
    case kStateGoRequest:
      if (CDlgInstalling* progress = controller_.progress_screen()) progress->EnterInstallPhase();
      break;
    case kStateDone:
      controller_.CloseUi(0);
      break;
    default:
      break;
  }
}

void CDlgSetting::OnInstallProgress(const COPYDATASTRUCT* data) {
  std::uint32_t percent = 0;
  if (data == nullptr ||
      !ParseInstallProgress(data->dwData, data->lpData, data->cbData, &percent)) {
    return;
  }
  int shown = 0;
  CDlgInstalling* progress = controller_.progress_screen();
  if (!InstallShownPercent(percent, &shown) || progress == nullptr) return;
  progress->ShowPercent(shown);
  if (percent == 100) {
    // The package need not wait while the tray lets go of the icon.
    ReplyMessage(TRUE);
    progress->Hide();
    progress->RemoveTrayIcon();
  }
}

void CDlgSetting::OnClick(LPARAM name) {
  if (IsClickOn(name, "close")) {
    ConfirmCancel(L"close");
  } else if (IsClickOn(name, "minimize")) {
    SendMessageW(window_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (IsClickOn(name, "button_custom")) {
    OpenCustomPanel();
  } else if (IsClickOn(name, "xkxy")) {
    OpenLicence();
  } else if (IsClickOn(name, "button_setup") || IsClickOn(name, "button_update")) {
    UiTrace(L"setup");
    Commit();
    if (CDlgInstalling* progress = controller_.progress_screen()) progress->Show();
  } else if (IsClickOn(name, "button_ll")) {
    UiTrace(L"bll");
    ChooseFolder();
  }
}

void CDlgSetting::ConfirmCancel(const wchar_t* trace) {
  UiTrace(trace);
  if (RunCancelConfirmation(context_->instance, window_) == kPromptYes) {
    RequestCancel(context_->choice);
    ShowWindow(window_, SW_HIDE);
  }
}

void CDlgSetting::ChooseFolder() {
  BROWSEINFOW info = {};
  info.hwndOwner = GetActiveWindow();
  info.lpszTitle = L"\x8BF7\x9009\x62E9\x6587\x4EF6\x5939";  // 请选择文件夹
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return;
  wchar_t path[MAX_PATH] = {};
  const bool gotPath = SHGetPathFromIDListW(chosen, path) != FALSE;
  CoTaskMemFree(chosen);
  if (!gotPath || path[0] == 0) return;
  SetSkinText(kMainWindow, "EditSavePath", path);
  if (CheckFreeSpace(path)) installDirectory_ = WithProductFolder(path);
}

void CDlgSetting::OnDirectoryTyped() {
  // A skin may give the directory as an edit field: what the user types is
  // checked and taken as a chosen folder would be.
  auto* edit = SkinControl<dui::ctrl_edit>(kMainWindow, "EditSavePath");
  if (edit == nullptr) return;
  const std::wstring typed = edit->get_text();
  if (CheckFreeSpace(typed)) installDirectory_ = WithProductFolder(typed);
}

void CDlgSetting::OpenCustomPanel() {
  UiTrace(L"deawm");
  if (controller_.update_mode()) {
    SetButtonDisabled(kMainWindow, "button_ll", true);
    for (const char* frame : {"frame_top", "frame_right", "frame_bottom", "frame_left"}) {
      if (auto* line = SkinControl<dui::dui_ctrl_panel>(kMainWindow, frame)) {
        line->set_fill_color(kLockedFrameColor);
      }
    }
  }
  const std::wstring installed = ProductDetection(nullptr).ReadInstallDir();
  installDirectory_ = installed.empty() ? DefaultInstallDirectory() : installed;
  SetSkinText(kMainWindow, "EditSavePath", installDirectory_);
  CheckFreeSpace(installDirectory_);

  auto* panel = SkinControl<dui::dui_ctrl_panel>(kMainWindow, "adupnbtm");
  dui::ctrl_dialog* skin = dui::skin_manager::instance()->find_dialog(kMainWindow);
  if (skin != nullptr) skin->set_height(kOpenHeight);
  if (panel != nullptr) {
    // The panel always slides to the same place: opening it again (from
    // the second options screen) must not push it further down.
    const dui::rect closed = controller_.PanelClosedArea(panel->area());
    const dui::rect target{closed.left, closed.top + kPanelDrop, closed.right,
                           closed.bottom + kPanelDrop};
    const bool sliding = panel->remaining_steps() > 0 && panel->slide_target() == target;
    if (panel->area() != target && !sliding) {
      panel->set_rect(target.left, target.top, target.right, target.bottom);
    }
  }
  SetButtonDisabled(kMainWindow, "button_custom", true);
  InvalidateRect(window_, nullptr, FALSE);
}

void CDlgSetting::OpenLicence() {
  UiTrace(L"deawm");
  UiTrace(L"awxkxy");
  SetButtonDisabled(kMainWindow, "xkxy", true);
  // The link is enabled again when the window closes, or now when it
  // could not open.
  if (OpenLicenceWindow(context_->instance, window_) == nullptr) {
    SetButtonDisabled(kMainWindow, "xkxy", false);
  }
  // The skin lays out again at the window's own size.
  RECT client;
  GetClientRect(window_, &client);
  SendMessageW(window_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
  InvalidateRect(window_, nullptr, FALSE);
}

bool CDlgSetting::CheckFreeSpace(const std::wstring& directory) {
  if (!HasDrivePath(directory)) {
    SetSkinText(kMainWindow, "freespacewarning", kInvalidPathWarning);
    return false;
  }
  ULARGE_INTEGER available = {}, total = {}, free = {};
  if (!GetDiskFreeSpaceExW((DriveRootOf(directory) + L"\\").c_str(), &available, &total, &free)) {
    available.QuadPart = 0;
  }
  if (!IsFreeSpaceEnough(available.QuadPart)) {
    SetControlVisible("vxwebinstall_check", "button_ksaz", false);
    SetSkinText(kMainWindow, "freespacewarning", kLowSpaceWarning);
    return false;
  }
  SetSkinText(kMainWindow, "freespace", FreeSpaceText(available.QuadPart));
  SetSkinText(kMainWindow, "freespacewarning", L"");
  return true;
}

void CDlgSetting::ReadOptionBoxes() {
  const auto checked = [](const char* name, BYTE current) -> BYTE {
    auto* box = SkinControl<dui::dui_ctrl_check>(kMainWindow, name);
    return box != nullptr ? (box->is_checked() ? 1 : 0) : current;
  };
  desktopShortcut_ = checked("select_zmkj", desktopShortcut_);
  quickLaunch_ = checked("select_kjqd", quickLaunch_);
  defaultBrowser_ = checked("select_mrll", defaultBrowser_);
}

void CDlgSetting::Commit() {
  ShowWindow(window_, SW_HIDE);
  // The boxes as they are now: the second options screen starts from the
  // ticks the user left, which its own flags never saw.
  ReadOptionBoxes();
  InstallChoice* choice = context_->choice;
  choice->installDirectory = WithProductFolder(installDirectory_);
  choice->defaultBrowser = defaultBrowser_;
  choice->desktopShortcut = desktopShortcut_;
  choice->quickLaunch = quickLaunch_;
  SetEvent(choice->goEvent);
}
