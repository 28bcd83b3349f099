#include "app/ui_thread.h"

#include "sys/diag.h"

bool InitInstallChoice(InstallChoice* choice) {
  choice->cancelEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  choice->goEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return choice->cancelEvent != nullptr && choice->goEvent != nullptr;
}

UiContext* StartUi(HINSTANCE instance, const wchar_t* commandLine, int showMode,
                   InstallChoice& choice) {
  return StartUiThread(instance, commandLine, showMode, choice, UiThreadMain, kUiReadyTimeoutMs);
}

UiContext* StartUiThread(HINSTANCE instance, const wchar_t* commandLine, int showMode,
                         InstallChoice& choice, LPTHREAD_START_ROUTINE body, DWORD readyTimeoutMs) {
  UiContext* context = new UiContext;
  context->instance = instance;
  context->commandLine = commandLine ? commandLine : L"";
  context->showMode = showMode;
  context->choice = &choice;
  context->uiReadyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(context->uiReadyEvent);
  context->uiThread = CreateThread(nullptr, 0, body, context, 0, nullptr);
  if (context->uiThread == nullptr) {
    DiagPrintf(L"StartUi: CreateThread failed %lu\r\n", GetLastError());
  }
  const DWORD wait = WaitForSingleObject(context->uiReadyEvent, readyTimeoutMs);
  ResetEvent(context->uiReadyEvent);
  if (wait != WAIT_OBJECT_0) DiagPrintf(L"StartUi: UI not ready (%lu)\r\n", wait);
  return context;
}

int WaitUserCommand(InstallChoice& choice, DWORD timeoutMs) {
  HANDLE events[2] = {choice.cancelEvent, choice.goEvent};
  const DWORD wait = WaitForMultipleObjects(2, events, FALSE, timeoutMs);
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
  return 0;
}

void WindowDriverUi::Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  HWND window = context_->optionsWindow;
  if (window != nullptr) PostMessageW(window, message, wParam, lParam);
}

int WindowDriverUi::WaitUserCommand() {
  return ::WaitUserCommand(*context_->choice, INFINITE);
}

bool WindowDriverUi::IsCancelRequested() { return context_->choice->cancelRequested != 0; }

void WindowDriverUi::WaitForUiEnd() {
  WaitForSingleObject(context_->uiReadyEvent, INFINITE);
  if (context_->uiThread != nullptr) WaitForSingleObject(context_->uiThread, INFINITE);
}
