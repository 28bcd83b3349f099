// The installer's user interface: the skin start-up, the UI thread's message
// loop, and the screens with the switches between them.
#pragma once

#include <windows.h>

#include <memory>

#include "app/ui_context.h"
#include "app/user_interface.h"
#include "dui/dui_types.h"

class CDlgInstalling;
class CDlgSetting;

// Owns the options screen, the progress screen and the options screen the
// user goes back to from the progress screen. The screens ask it for every
// switch and never hold each other. Everything but Run is for the screens,
// on the UI thread.
class ScreenController : public UserInterface {
 public:
  ScreenController();
  ~ScreenController() override;

  int Run(UiContext& context) override;

  // Null until the download phase first shows it.
  CDlgInstalling* progress_screen() const { return progress_.get(); }
  // Shows the progress screen (hidden in a silent run), created the first
  // time; false when it cannot be created.
  bool ShowProgressScreen();
  // The user left the progress screen for the options: the second options
  // screen, created the first time, with its custom panel open.
  void ReturnToOptions();
  // The driver's end notice, received by the options window owner: the
  // failure window when the run failed without the user's cancel, else the
  // end of the interface.
  void OnEndNotice(int endReason, bool cancelled, HWND owner);
  // Every screen closes and the message loop ends with exitCode.
  void CloseUi(int exitCode);
  // CloseUi(0) through the current options window's queue, or at once
  // without one.
  void PostCloseUi();

  // Whether an install or update offered the directory as unchangeable.
  bool update_mode() const { return updateMode_; }
  void set_update_mode() { updateMode_ = true; }
  // Where the skin's custom panel rests while closed: its area when first
  // asked. Both options screens show the one panel of the skin.
  dui::rect PanelClosedArea(const dui::rect& current);

 private:
  // Closes the windows and frees the screens, progress screen first.
  void FreeScreens();

  UiContext* context_ = nullptr;
  std::unique_ptr<CDlgSetting> options_;
  std::unique_ptr<CDlgInstalling> progress_;
  std::unique_ptr<CDlgSetting> returnOptions_;
  bool updateMode_ = false;
  bool panelClosedKnown_ = false;
  dui::rect panelClosed_;
};
