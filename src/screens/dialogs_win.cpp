#include "screens/dialogs_win.h"

#include <shellapi.h>

#include "build_config.h"
#include "dui/dui_types.h"
#include "screens/screen_support_win.h"
#include "screens/window_dialog_win.h"

namespace {

const wchar_t kFailureTitle[] = L"Zetora\x6D4F\x89C8\x5668";  // Zetora浏览器 (its taskbar button)

// A dialog covered by one skin window: its trace and skin when it opens,
// dragging by its body, the skin's clicks, and Esc or the system close
// (IDCANCEL) handled like its own close button, so it can be closed even
// without its skin.
class SkinDialog : public WindowDialog {
 public:
  SkinDialog(const char* skinWindow, const wchar_t* openTrace)
      : skinWindow_(skinWindow), openTrace_(openTrace) {}

 protected:
  virtual void OnInit() {}
  virtual void OnClick(LPARAM name) = 0;
  virtual void OnCancel() = 0;

  bool ProcessMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                      LRESULT* result) override {
    switch (message) {
      case WM_INITDIALOG:
        UiTrace(openTrace_);
        AttachSkin(skinWindow_,
                   reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), window);
        PlaceScreenWindow(window);
        OnInit();
        *result = TRUE;
        return true;
      case WM_LBUTTONDOWN:
        DragWindow(window, lParam);
        return true;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) OnCancel();
        return true;
      case dui::SKIN_MSG_CLICK:
        if (wParam == 0) OnClick(lParam);
        return true;
    }
    return false;
  }

 private:
  const char* skinWindow_;
  const wchar_t* openTrace_;
};

// A modal yes/no prompt.
class PromptDialog : public SkinDialog {
 public:
  PromptDialog(const char* skinWindow, const wchar_t* openTrace, const wchar_t* yesTrace,
               const wchar_t* noTrace)
      : SkinDialog(skinWindow, openTrace), yesTrace_(yesTrace), noTrace_(noTrace) {}

 protected:
  void OnClick(LPARAM name) override {
    if (IsClickOn(name, "button_qd")) {
      Answer(kPromptYes);
    } else if (IsClickOn(name, "button_qx") || IsClickOn(name, "close")) {
      Answer(kPromptNo);
    }
  }
  void OnCancel() override { Answer(kPromptNo); }

 private:
  void Answer(INT_PTR answer) {
    UiTrace(answer == kPromptYes ? yesTrace_ : noTrace_);
    EndDialog(window_, answer);
  }

  const wchar_t* yesTrace_;
  const wchar_t* noTrace_;
};

// A modeless window that deletes itself when its window goes.
class OwnedWindow : public SkinDialog {
 public:
  using SkinDialog::SkinDialog;

 protected:
  void OnFinalMessage() override { delete this; }
};

class LicenceWindow : public OwnedWindow {
 public:
  LicenceWindow() : OwnedWindow("vxwebinstall_xukexieyi", L"awxkxy") {}

 protected:
  // The text opens at its beginning: the viewer was filled while it was
  // one pixel high and scrolls to its end when shown, so the scroll back is
  // posted to come after the show.
  void OnInit() override {
    dui::ctrl_base* text = FindSkinControl("vxwebinstall_xukexieyi", "EditPermItem");
    if (text == nullptr || text->window() == nullptr) return;
    PostMessageW(text->window(), EM_SETSEL, 0, 0);
    PostMessageW(text->window(), WM_VSCROLL, SB_TOP, 0);
  }
  void OnClick(LPARAM name) override {
    if (IsClickOn(name, "close")) OnCancel();
  }
  void OnCancel() override {
    DestroyWindow(window_);
    SetButtonDisabled("vxwebinstall_main", "xkxy", false);
  }
};

class FailureWindow : public OwnedWindow {
 public:
  FailureWindow() : OwnedWindow("vxwebinstall_fail", L"insfail") {}

 protected:
  void OnInit() override { SetWindowTextW(window_, kFailureTitle); }
  void OnClick(LPARAM name) override {
    if (IsClickOn(name, "button_website")) {
      // A failed start of the browser is ignored: the window closes anyway.
      ShellExecuteW(nullptr, L"open", L"IEXPLORE.EXE", build_config::kLandingPage, nullptr,
                    SW_SHOWNORMAL);
      OnCancel();
    } else if (IsClickOn(name, "close")) {
      OnCancel();
    }
  }
  void OnCancel() override {
    DestroyWindow(window_);
    PostQuitMessage(0);
  }
};

template <typename T>
HWND OpenOwnedWindow(HINSTANCE instance, HWND owner) {
  T* dialog = new T;
  HWND window = dialog->Create(instance, kScreenTemplateId, owner);
  if (window == nullptr) {
    delete dialog;
    return nullptr;
  }
  ShowWindow(window, SW_SHOW);
  return window;
}

}  // namespace

INT_PTR RunCancelConfirmation(HINSTANCE instance, HWND owner) {
  PromptDialog prompt("vxwebinstall_qxaz", L"awq", L"qdclose", L"qxclose");
  return prompt.DoModal(instance, kScreenTemplateId, owner);
}

INT_PTR RunQuickInstallPrompt(HINSTANCE instance) {
  PromptDialog prompt("vxwebinstall_kbaz", L"awkbaz", L"kqdclose", L"kqxclose");
  return prompt.DoModal(instance, kScreenTemplateId, nullptr);
}

HWND OpenLicenceWindow(HINSTANCE instance, HWND owner) {
  return OpenOwnedWindow<LicenceWindow>(instance, owner);
}

HWND OpenFailureWindow(HINSTANCE instance, HWND owner) {
  return OpenOwnedWindow<FailureWindow>(instance, owner);
}
