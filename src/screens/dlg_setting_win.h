// The options screen: the offered action, the custom panel with the install
// directory and the three options, the licence link; it hands the user's
// choices to the driver and owns the progress screen.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/ui_context.h"
#include "screens/window_dialog_win.h"

class CDlgInstalling;

// The progress screen asks for the custom panel with the action button.
constexpr UINT kMsgCustomFromProgress = 0x405;
// Closes the user interface the normal way (wParam: exit code).
constexpr UINT kMsgCloseUi = 0x406;

class CDlgSetting : public WindowDialog {
 public:
  explicit CDlgSetting(UiContext* context);
  ~CDlgSetting() override;

  HWND Create(HWND owner);
  // Passes keyboard navigation to the dialog; true when it took the message.
  bool PreTranslateMessage(MSG* message);

  // A screen opened from the progress screen shows that one, never its own.
  void set_progress_screen(CDlgInstalling* screen) { progressScreen_ = screen; }
  CDlgInstalling* progress_screen() const { return progressScreen_; }
  const std::wstring& install_directory() const { return installDirectory_; }

  // Whether an install or update offered the directory as unchangeable.
  static bool update_mode();

 protected:
  bool ProcessMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                      LRESULT* result) override;

 private:
  void Initialise();
  void OnModeNotice(int mode);
  void OnPhaseNotice(int state);
  void OnEndNotice(int endReason, bool cancelled);
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
  bool ShowProgressScreen();
  void Commit();
  void CloseUi(int exitCode);

  UiContext* context_;
  std::wstring installDirectory_;
  BYTE desktopShortcut_ = 1;
  BYTE quickLaunch_ = 1;
  BYTE defaultBrowser_ = 1;
  CDlgInstalling* progressScreen_ = nullptr;  // owned below, or the opener's
  std::unique_ptr<CDlgInstalling> ownProgressScreen_;
};
