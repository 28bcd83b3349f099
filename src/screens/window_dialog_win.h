// A thin dialog class in the spirit of WTL's CDialogImpl: a dialog made from
// a template, its procedure routed to a member function, modeless or modal.
#pragma once

#include <windows.h>

class WindowDialog {
 public:
  WindowDialog() = default;
  virtual ~WindowDialog() = default;
  WindowDialog(const WindowDialog&) = delete;
  WindowDialog& operator=(const WindowDialog&) = delete;

  // Modeless; null when the dialog could not be created.
  HWND Create(HINSTANCE instance, int templateId, HWND owner) {
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), owner, &StaticProc,
                              reinterpret_cast<LPARAM>(this));
  }
  // Modal; the value given to EndDialog, or -1 when the dialog failed.
  INT_PTR DoModal(HINSTANCE instance, int templateId, HWND owner) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, &StaticProc,
                           reinterpret_cast<LPARAM>(this));
  }

  HWND window() const { return window_; }
  bool IsWindowAlive() const { return window_ != nullptr && IsWindow(window_); }

 protected:
  // Returns whether the message was handled; `result` is the dialog result.
  virtual bool ProcessMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result) = 0;
  // After WM_NCDESTROY: the object may delete itself here.
  virtual void OnFinalMessage() {}

  HWND window_ = nullptr;

 private:
  static INT_PTR CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<WindowDialog*>(lParam);
      self->window_ = window;
      SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
      self = reinterpret_cast<WindowDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    LRESULT result = 0;
    const bool handled = self->ProcessMessage(window, message, wParam, lParam, &result);
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrW(window, DWLP_USER, 0);
      self->window_ = nullptr;
      self->OnFinalMessage();
      return FALSE;
    }
    if (!handled) return FALSE;
    // WM_INITDIALOG answers directly; every other message through
    // DWLP_MSGRESULT.
    if (message == WM_INITDIALOG) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
  }
};
