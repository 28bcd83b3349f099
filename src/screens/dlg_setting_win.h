// The options screen: the offered action, the custom panel with the install
// directory and the three options, the licence link; it hands the user's
// choices to the driver and receives the driver's notices.
#pragma once

#include <windows.h>

#include <string>

#include "app/ui_context.h"
#include "screens/window_dialog_win.h"

class ScreenController;

// Opens the custom panel with the action button: the options screen the
// user went back to from the progress screen.
constexpr UINT kMsgCustomFromProgress = 0x405;
// Closes the user interface the normal way (wParam: exit code).
constexpr UINT kMsgCloseUi = 0x406;

class CDlgSetting : public WindowDialog {
 public:
  CDlgSetting(UiContext* context, ScreenController& controller);
  ~CDlgSetting() override;

  HWND Create(HWND owner);
  // Passes keyboard navigation to the dialog; true when it took the message.
  bool PreTranslateMessage(MSG* message);

  const std::wstring& install_directory() const { return installDirectory_; }

 protected:
  bool ProcessMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                      LRESULT* result) override;

 private:
  void Initialise();
  void OnModeNotice(int mode);
  void OnPhaseNotice(int state);
  void OnInstallProgress(const COPYDATASTRUCT* data);
  void OnClick(LPARAM name);
  // Traces the request, asks the user and, on yes, cancels and hides.
  void ConfirmCancel(const wchar_t* trace);
  void ChooseFolder();
  void OnDirectoryTyped();
  void OpenCustomPanel();
  void OpenLicence();
  bool CheckFreeSpace(const std::wstring& directory);
  void ReadOptionBoxes();
  void Commit();

  UiContext* context_;
  ScreenController& controller_;
  std::wstring installDirectory_;
  BYTE desktopShortcut_ = 1;
  BYTE quickLaunch_ = 1;
  BYTE defaultBrowser_ = 1;
};
