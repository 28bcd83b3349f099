// What every screen uses: the skin's controls by name, UI traces, window
// placement and dragging, and the cancellation of a run.
#pragma once

#include <windows.h>

#include <string>

#include "app/ui_context.h"
#include "dui/ctrl_base.h"

// Dialog template of every screen: an empty dialog the skin covers.
constexpr int kScreenTemplateId = 129;

// Queues the UI trace "trsui" with the value.
void UiTrace(const wchar_t* value);

// The named control of a skin window, or null when the skin lacks it (or
// it has another type): every step on a missing control is a no-op.
dui::ctrl_base* FindSkinControl(const char* window, const char* name);
template <typename T>
T* SkinControl(const char* window, const char* name) {
  return dynamic_cast<T*>(FindSkinControl(window, name));
}

// Text of a panel label; a missing control changes nothing.
void SetSkinText(const char* window, const char* name, const std::wstring& text);
void SetButtonDisabled(const char* window, const char* name, bool disabled);
void SetControlVisible(const char* window, const char* name, bool visible);

// Binds a skin window to a screen's dialog; false when the skin has none.
bool AttachSkin(const char* window, HINSTANCE instance, HWND dialog);

// Whether a click notice names the control (names compare without case).
bool IsClickOn(LPARAM lParam, const char* name);

// Centres the window on its owner, or on the work area without one, and
// gives it the screens' style: no border, clipping, system menu and the
// minimise and maximise boxes.
void PlaceScreenWindow(HWND window);

// Starts dragging the window as if its caption were pressed.
void DragWindow(HWND window, LPARAM point);

// Asks every running download of the run to stop.
void CancelRunningDownloads(InstallChoice* choice);
// The user cancelled: the downloads stop, the flag is set, and the driver
// is woken through the cancel event.
void RequestCancel(InstallChoice* choice);
