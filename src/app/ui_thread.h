#pragma once

#include <windows.h>

#include "app/install_driver.h"
#include "app/ui_context.h"
#include "app/user_interface.h"

// Starts a UI thread that runs ui and waits up to 30,000 ms for it to be
// ready (or to end). bindSoftware: the run was started with "/B" or
// "/bindsoftware" (ParseCommandLine), so the options screen asks the
// quick-install question. ui must outlive the thread.
UiContext* StartUi(HINSTANCE instance, bool bindSoftware, int showMode, InstallChoice& choice,
                   UserInterface& ui);

// StartUi with the thread body and the readiness wait given by the caller;
// the context has no user interface.
UiContext* StartUiThread(HINSTANCE instance, bool bindSoftware, int showMode,
                         InstallChoice& choice, LPTHREAD_START_ROUTINE body, DWORD readyTimeoutMs);

// Waits for the cancel event (first, so it wins when both are set) or the go
// event: 1 cancel, 2 go, 3 time-out, 0 wait failure. With the UI thread's
// handle the wait also ends when that thread does (kUserInterfaceEnded).
constexpr int kUserInterfaceEnded = 4;
int WaitUserCommand(InstallChoice& choice, DWORD timeoutMs, HANDLE uiThread = nullptr);

// The UI thread milliseconds the driver waits for readiness.
constexpr DWORD kUiReadyTimeoutMs = 30000;

// DriverUi over the shared records: posts to the options window handle read
// at each post, waits on the InstallChoice events.
class WindowDriverUi : public DriverUi {
 public:
  explicit WindowDriverUi(UiContext* context) : context_(context) {}
  void Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
  int WaitUserCommand() override;
  bool IsCancelRequested() override;
  void WaitForUiEnd() override;

 private:
  UiContext* context_;
};
