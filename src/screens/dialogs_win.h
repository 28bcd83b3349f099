// The small windows of the screens: the cancel confirmation and the
// quick-install prompt (modal), the licence and failure windows (modeless).
#pragma once

#include <windows.h>

// Results of the modal prompts.
constexpr INT_PTR kPromptNo = 1;
constexpr INT_PTR kPromptYes = 2;

// "确定要取消安装吗？": kPromptYes confirms the cancellation.
INT_PTR RunCancelConfirmation(HINSTANCE instance, HWND owner);
// "是否立即安装？" for a run started with "/B": kPromptNo declines.
INT_PTR RunQuickInstallPrompt(HINSTANCE instance);
// The licence text; its closing enables "xkxy" of the options window again.
HWND OpenLicenceWindow(HINSTANCE instance, HWND owner);
// The last window of a failed run: its closing ends the user interface.
HWND OpenFailureWindow(HINSTANCE instance, HWND owner);
