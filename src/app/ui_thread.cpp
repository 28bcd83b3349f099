#include "app/ui_thread.h"

#include "app/driver_messages.h"
#include "app/product_detection_win.h"
#include "sys/diag.h"

bool InitInstallChoice(InstallChoice* choice) {
  choice->cancelEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  choice->goEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return choice->cancelEvent != nullptr && choice->goEvent != nullptr;
}

namespace {

DWORD WINAPI RunUserInterface(void* parameter) {
  UiContext* context = static_cast<UiContext*>(parameter);
  return static_cast<DWORD>(context->ui->Run(*context));
}

UiContext* StartUiWith(HINSTANCE instance, bool bindSoftware, int showMode, InstallChoice& choice,
                       UserInterface* ui, LPTHREAD_START_ROUTINE body, DWORD readyTimeoutMs) {
  UiContext* context = new UiContext;
  context->instance = instance;
  context->bindSoftware = bindSoftware;
  context->showMode = showMode;
  context->choice = &choice;
  context->ui = ui;
  context->uiReadyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  context->uiEndedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  context->uiThread = CreateThread(nullptr, 0, body, context, 0, nullptr);
  if (context->uiThread == nullptr) {
    DiagPrintf(L"StartUi: CreateThread failed %lu\r\n", GetLastError());
  }
  // A thread that ends (or never started) will never be ready.
  HANDLE waits[2] = {context->uiReadyEvent, context->uiThread};
  const DWORD wait =
      WaitForMultipleObjects(context->uiThread != nullptr ? 2 : 1, waits, FALSE, readyTimeoutMs);
  if (wait != WAIT_OBJECT_0) DiagPrintf(L"StartUi: UI not ready (%lu)\r\n", wait);
  return context;
}

}  // namespace

UiContext* StartUi(HINSTANCE instance, bool bindSoftware, int showMode, InstallChoice& choice,
                   UserInterface& ui) {
  return StartUiWith(instance, bindSoftware, showMode, choice, &ui, RunUserInterface,
                     kUiReadyTimeoutMs);
}

UiContext* StartUiThread(HINSTANCE instance, bool bindSoftware, int showMode,
                         InstallChoice& choice, LPTHREAD_START_ROUTINE body, DWORD readyTimeoutMs) {
  return StartUiWith(instance, bindSoftware, showMode, choice, nullptr, body, readyTimeoutMs);
}

int WaitUserCommand(InstallChoice& choice, DWORD timeoutMs, HANDLE uiThread) {
  HANDLE events[3] = {choice.cancelEvent, choice.goEvent, uiThread};
  const DWORD wait = WaitForMultipleObjects(uiThread != nullptr ? 3 : 2, events, FALSE, timeoutMs);
  if (wait == WAIT_OBJECT_0) {
    DiagPrintf(L"Receive user command to cancel\n");
    return 1;
  }
  if (wait == WAIT_OBJECT_0 + 1) {
    DiagPrintf(L"Receive user command to install\n");
    return 2;
  }
  if (wait == WAIT_TIMEOUT) {
    DiagPrintf(L"Wait user command timeout\n");
    return 3;
  }
  if (uiThread != nullptr && wait == WAIT_OBJECT_0 + 2) return kUserInterfaceEnded;
  return 0;
}

void WindowDriverUi::Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  HWND window = context_->optionsWindow;
  if (window != nullptr) PostMessageW(window, message, wParam, lParam);
}

int WindowDriverUi::WaitUserCommand() {
  InstallChoice& choice = *context_->choice;
  // The user's command, or the end of the UI thread that would give it.
  const int command = ::WaitUserCommand(choice, INFINITE, context_->uiThread);
  if (command != kUserInterfaceEnded) return command;
  // No window will answer any more. A silent run needs none and installs
  // with the defaults; an interactive run ends as if the window were closed.
  if (choice.cancelRequested == 0 && choice.silent) {
    DiagPrintf(L"UI ended: silent run goes on\n");
    if (choice.installDirectory.empty()) {
      choice.installDirectory = DefaultInstallDirectory();
      choice.desktopShortcut = choice.quickLaunch = choice.defaultBrowser = 1;
    }
    return kUserCommandInstall;
  }
  DiagPrintf(L"UI ended before the user's command\n");
  InterlockedExchange(&choice.cancelRequested, 1);
  return kUserCommandCancel;
}

bool WindowDriverUi::IsCancelRequested() { return context_->choice->cancelRequested != 0; }

void WindowDriverUi::WaitForUiEnd() {
  // The interface's end sets the ended event; a thread that ended otherwise
  // releases the wait too.
  HANDLE thread = context_->uiThread;
  if (thread == nullptr) return;
  HANDLE events[2] = {context_->uiEndedEvent, thread};
  WaitForMultipleObjects(2, events, FALSE, INFINITE);
  WaitForSingleObject(thread, INFINITE);
}
