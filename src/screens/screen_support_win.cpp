#include "screens/screen_support_win.h"

#include "app/process_recorder.h"
#include "app/run_recorder.h"
#include "dui/dui_button.h"
#include "dui/dui_panel.h"
#include "dui/skin_manager.h"
#include "net/download_control.h"

void UiTrace(const wchar_t* value) {
  if (RunRecorder* recorder = ProcessRecorder()) recorder->QueueTrace(L"trsui", value);
}

dui::ctrl_base* FindSkinControl(const char* window, const char* name) {
  return dui::skin_manager::instance()->find_control(window, name);
}

void SetSkinText(const char* window, const char* name, const std::wstring& text) {
  if (auto* panel = SkinControl<dui::dui_ctrl_panel>(window, name)) panel->set_text(text);
}

void SetButtonDisabled(const char* window, const char* name, bool disabled) {
  if (auto* button = SkinControl<dui::dui_ctrl_button>(window, name)) button->set_disabled(disabled);
}

void SetControlVisible(const char* window, const char* name, bool visible) {
  if (dui::ctrl_base* control = FindSkinControl(window, name)) control->set_visible(visible);
}

bool AttachSkin(const char* window, HINSTANCE instance, HWND dialog) {
  return dui::skin_manager::instance()->attach_window(window, instance, dialog);
}

bool IsClickOn(LPARAM lParam, const char* name) {
  const char* clicked = reinterpret_cast<const char*>(lParam);
  return clicked != nullptr && lstrcmpiA(clicked, name) == 0;
}

void PlaceScreenWindow(HWND window) {
  RECT own;
  GetWindowRect(window, &own);
  RECT area;
  HWND owner = GetWindow(window, GW_OWNER);
  if (owner == nullptr || !IsWindowVisible(owner) || !GetWindowRect(owner, &area)) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int width = own.right - own.left, height = own.bottom - own.top;
  SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  const LONG_PTR wanted = (style & ~static_cast<LONG_PTR>(WS_BORDER)) | WS_CLIPSIBLINGS |
                          WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  if (wanted != style) SetWindowLongPtrW(window, GWL_STYLE, wanted);
}

void DragWindow(HWND window, LPARAM point) {
  PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, point);
}

void CancelRunningDownloads(InstallChoice* choice) {
  CancelDownload(choice->configDownload);
  CancelDownload(choice->attachmentDownload);
  CancelDownload(choice->setupDownload);
}

void RequestCancel(InstallChoice* choice) {
  CancelRunningDownloads(choice);
  InterlockedExchange(&choice->cancelRequested, 1);
  SetEvent(choice->cancelEvent);
}
