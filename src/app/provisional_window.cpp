// A plain options window that keeps the driver-UI contract until the skinned
// screens replace it: it publishes its handle, signals readiness, commits the
// default choice at once for modes 0 and 5 (and always in a silent run),
// confirms the go request, cancels when closed, and closes on the end notice
// or on the phase notice for state 8.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "app/driver_messages.h"
#include "app/process_recorder.h"
#include "app/ui_thread.h"
#include "net/download_control.h"
#include "sys/diag.h"

namespace {

const wchar_t kWindowClass[] = L"ZetoraProvisionalOptions";
const int kInstallButtonId = 101;
const int kCancelButtonId = 102;

class ProvisionalWindow {
 public:
  explicit ProvisionalWindow(UiContext* context) : context_(context) {}

  bool Create() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &ProvisionalWindow::StaticProc;
    wc.hInstance = context_->instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(0, kWindowClass, L"Zetora \x6D4F\x89C8\x5668\x5B89\x88C5",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 440, 200, nullptr, nullptr,
                                  context_->instance, this);
    return window != nullptr;
  }

 private:
  static LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<ProvisionalWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return self->Proc(window, message, wParam, lParam);
  }

  LRESULT Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_CREATE:
        window_ = window;
        context_->optionsWindow = window;
        status_ = CreateWindowExW(0, L"STATIC", L"\x6B63\x5728\x51C6\x5907\x2026",
                                  WS_CHILD | WS_VISIBLE, 16, 16, 400, 60, window, nullptr,
                                  context_->instance, nullptr);
        install_ = CreateWindowExW(0, L"BUTTON", L"\x5B89\x88C5", WS_CHILD | WS_VISIBLE | WS_DISABLED,
                                   220, 110, 90, 28, window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kInstallButtonId)),
                                   context_->instance, nullptr);
        CreateWindowExW(0, L"BUTTON", L"\x53D6\x6D88", WS_CHILD | WS_VISIBLE, 320, 110, 90, 28,
                        window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCancelButtonId)),
                        context_->instance, nullptr);
        return 0;
      case kMsgPhaseNotice:
        SetStatus(L"\x5B89\x88C5\x6B65\x9AA4 " + std::to_wstring(wParam) + L" / 8");
        if (wParam == 8) DestroyWindow(window);
        return 0;
      case kMsgModeNotice:
        mode_ = static_cast<int>(wParam);
        if (mode_ == 0 || mode_ == 5 || context_->choice->silent) {
          Commit();
        } else {
          SetStatus(L"\x6A21\x5F0F " + std::to_wstring(mode_) + L"\xFF1A\x8BF7\x70B9\x51FB\x5B89\x88C5");
          EnableWindow(install_, TRUE);
        }
        return 0;
      case kMsgGoRequest:
        SetEvent(context_->choice->goEvent);
        return 0;
      case kMsgEndNotice:
        DiagPrintf(L"UI end notice reason=%d cancel=%d\r\n", static_cast<int>(wParam),
                   static_cast<int>(lParam));
        DestroyWindow(window);
        return 0;
      case WM_COMMAND:
        if (LOWORD(wParam) == kInstallButtonId) {
          EnableWindow(install_, FALSE);
          Commit();
        } else if (LOWORD(wParam) == kCancelButtonId) {
          RequestCancel();
        }
        return 0;
      case WM_CLOSE:
        RequestCancel();
        return 0;
      case WM_COPYDATA: {
        // The package's install percent. Any process can send this, so the
        // block is checked before it is read.
        const COPYDATASTRUCT* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data == nullptr || data->dwData != 10001 || data->cbData < 8 ||
            data->lpData == nullptr) {
          return FALSE;
        }
        const DWORD* values = static_cast<const DWORD*>(data->lpData);
        if (values[1] != 0) return FALSE;
        const DWORD percent = values[0] > 100 ? 100 : values[0];
        SetStatus(L"\x5B89\x88C5\x8FDB\x5EA6 " + std::to_wstring(percent) + L"%");
        return TRUE;
      }
      case WM_DESTROY:
        context_->optionsWindow = nullptr;
        SetEvent(context_->uiReadyEvent);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  void SetStatus(const std::wstring& text) { SetWindowTextW(status_, text.c_str()); }

  // Writes the default choice, then lets the driver proceed.
  void Commit() {
    InstallChoice* choice = context_->choice;
    wchar_t programFiles[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                                programFiles))) {
      lstrcpyW(programFiles, L"C:\\Program Files");
    }
    choice->installDirectory = std::wstring(programFiles) + L"\\Zetora\\Browser";
    choice->desktopShortcut = 1;
    choice->quickLaunch = 1;
    choice->defaultBrowser = 1;
    SetStatus(L"\x6B63\x5728\x5B89\x88C5\x5230 " + choice->installDirectory);
    SetEvent(choice->goEvent);
  }

  // Cancels the run: the running downloads stop, then the driver is told.
  void RequestCancel() {
    InstallChoice* choice = context_->choice;
    CancelDownload(choice->configDownload);
    CancelDownload(choice->attachmentDownload);
    CancelDownload(choice->setupDownload);
    InterlockedExchange(&choice->cancelRequested, 1);
    SetEvent(choice->cancelEvent);
    SetStatus(L"\x6B63\x5728\x53D6\x6D88\x2026");
  }

  UiContext* context_;
  HWND window_ = nullptr;
  HWND status_ = nullptr;
  HWND install_ = nullptr;
  int mode_ = -1;
};

}  // namespace

DWORD WINAPI UiThreadMain(void* parameter) {
  UiContext* context = static_cast<UiContext*>(parameter);
  if (RunRecorder* recorder = ProcessRecorder()) recorder->QueueTrace(L"trsui", L"buisred");
  const HRESULT com = CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);

  ProvisionalWindow window(context);
  const bool created = window.Create();
  if (created) {
    ShowWindow(context->optionsWindow, context->choice->silent ? SW_HIDE : context->showMode);
    UpdateWindow(context->optionsWindow);
  } else {
    DiagPrintf(L"UI: options window not created (%lu)\r\n", GetLastError());
  }
  // Ready after initialisation. Without a window the thread ends here, so
  // the driver's final waits (ready event, then thread) still return.
  SetEvent(context->uiReadyEvent);

  MSG message;
  while (created && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
