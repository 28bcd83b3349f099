// The user-interface thread: the skin start-up, the options screen and the
// message loop.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/ui_thread.h"
#include "dui/skin_manager.h"
#include "dui/skin_unpack.h"
#include "screens/dlg_setting_win.h"
#include "screens/screen_support_win.h"
#include "sys/diag.h"
#include "sys/test_setting_win.h"

DWORD WINAPI UiThreadMain(void* parameter) {
  UiContext* context = static_cast<UiContext*>(parameter);
  UiTrace(L"buisred");
  const HRESULT com = CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  MSG message;
  PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue

  if (!dui::start_skin(context->instance, dui::default_skin_folder())) {
    DiagPrintf(L"UI: skin not loaded\r\n");
  }
  int exitCode = 0;
  {
    CDlgSetting options(context);
    // Test builds can make the window fail as it did in a freshly created
    // Wine prefix, which a test cannot bring about on purpose.
    const bool windowFails = TestSettingOr(L"ZETORA_TEST_UI_FAILS", 0) != 0;
    if (!windowFails && options.Create(nullptr) != nullptr) {
      // Hidden in a silent run, and after the user declined the quick install.
      const bool hidden = context->choice->silent || context->choice->cancelRequested;
      ShowWindow(options.window(), hidden ? SW_HIDE : context->showMode);
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (options.PreTranslateMessage(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (message.message == WM_QUIT) exitCode = static_cast<int>(message.wParam);
    } else {
      DiagPrintf(L"UI: options window not created (%lu)\r\n", GetLastError());
    }
  }
  // However the loop ended, the driver must not wait for this window again.
  context->optionsWindow = nullptr;
  SetEvent(context->uiReadyEvent);
  dui::skin_manager::release();
  if (SUCCEEDED(com)) CoUninitialize();
  return static_cast<DWORD>(exitCode);
}
