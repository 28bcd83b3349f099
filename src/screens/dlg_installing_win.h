// The progress screen: download and install percent on one bar, a status
// picture, and the tray icon with its menu while the installer runs.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "app/ui_context.h"
#include "screens/window_dialog_win.h"

class ScreenController;

// The progress window's interface: any sender holding its handle may post
// these.
constexpr UINT kMsgDownloadProgress = 3024;  // lParam: download percent
constexpr UINT kMsgProgressClose = 3028;     // ends the user interface, exit code 1
constexpr UINT kMsgInstallComplete = 3030;   // ends the user interface, exit code 0
// Accepted and ignored: senders of the window's interface may post them.
constexpr UINT kMsgProgressReserved1 = 3025;
constexpr UINT kMsgProgressReserved2 = 3027;
constexpr UINT kMsgTrayCallback = 0x465;
// Tray menu resources and items.
constexpr int kTrayMenuWithExit = 211;
constexpr int kTrayMenuShowOnly = 212;
constexpr int kTrayItemShow = 213;
constexpr int kTrayItemExit = 214;
constexpr UINT kTrayIconId = 100;
constexpr int kAppIconId = 128;

class CDlgInstalling : public WindowDialog {
 public:
  CDlgInstalling(UiContext* context, ScreenController& controller);
  ~CDlgInstalling() override;

  HWND Create();
  // The go request of the driver: the download phase goes on at once
  // unless the user went back to the options, whose commit then decides.
  void ConfirmDownloadPhase();
  void SetExitItem(bool offered) { exitItem_ = offered; }
  void RemoveTrayIcon();
  // The installation runs: no exit from the tray, no close, the install
  // picture and the bar at 80 %.
  void EnterInstallPhase();
  // Shows a value of the 0 to 100 scale as text and bar.
  void ShowPercent(int shown);
  // Shows or hides the note that the download retries without bytes.
  void ShowReconnecting(bool reconnecting);
  void Show();
  void Hide();

  bool returned_to_options() const { return returnedToOptions_ != 0; }
  bool exit_item() const { return exitItem_; }
  bool has_tray_icon() const { return trayIconAdded_; }

 protected:
  bool ProcessMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                      LRESULT* result) override;

 private:
  void Initialise();
  void OnClick(LPARAM name);
  void OnTray(LPARAM mouseMessage);
  void HideToTray();
  void ReturnToOptions();
  void CancelFromTray();
  void OnTimeLimit();
  void FillTrayRecord(NOTIFYICONDATAW* record) const;

  UiContext* context_;
  ScreenController& controller_;
  LONG returnedToOptions_ = 0;
  bool trayIconAdded_ = false;
  bool reconnectShown_ = false;
  bool exitItem_ = true;
};
