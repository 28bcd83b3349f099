// The window side of the edit and the rich edit: creation, subclassing,
// the point font, focus, key and colour messages.
#include <windows.h>

#include <richedit.h>

#include <cstdlib>
#include <cwchar>

#include "dui/ctrl_edit.h"
#include "dui/platform.h"
#include "dui/skin_image.h"
#include "sys/dll_search_win.h"

namespace dui {
namespace {

const wchar_t kEditProperty[] = L"zetoraTextControl";

LRESULT CALLBACK text_subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* control = static_cast<ctrl_base*>(GetPropW(window, kEditProperty));
  if (!control) return DefWindowProcW(window, message, wparam, lparam);
  return control->window_proc(window, message, wparam, lparam);
}

// The layout's unit: one 96th of an inch.
constexpr int kBaseDpi = 96;

// The DPI a window is drawn at: its scale times the layout's unit.
unsigned window_dots_per_inch(WindowHandle window) {
  return static_cast<unsigned>(platform::to_pixels(kBaseDpi, platform::window_scale(window)));
}

// A font of `tenths` tenths of a point at `dpi` dots per inch (90 is 12
// pixels at 96).
HFONT create_point_font(const std::wstring& face, int tenths, unsigned dpi) {
  LOGFONTW font = {};
  font.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  font.lfHeight = -MulDiv(static_cast<int>(dpi), tenths, 720);
  return CreateFontIndirectW(&font);
}

}  // namespace

ctrl_text_window::~ctrl_text_window() {
  release_window();
  if (font_) DeleteObject(static_cast<HFONT>(font_));
}

void ctrl_text_window::release_window() {
  HWND window = window_;
  if (!window) return;
  if (control_of_window(window) == this) register_control_window(window, nullptr);
  if (IsWindow(window)) {
    // Give the window back its own procedure if ours is still installed.
    if (GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&text_subclass_proc)) {
      SetWindowLongPtrW(window, GWLP_WNDPROC, previous_proc_);
    }
    RemovePropW(window, kEditProperty);
    DestroyWindow(window);
  }
  window_ = nullptr;
}

void ctrl_text_window::adopt_window(WindowHandle window) {
  window_ = window;
  rect_ = compute_own_rect();
  HWND host = hosting_window();
  SetParent(window, host);
  platform::move_window(window, rect_);
  SetPropW(window, kEditProperty, this);
  previous_proc_ =
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&text_subclass_proc));
}

void ctrl_text_window::apply_font() {
  if (font_) DeleteObject(static_cast<HFONT>(font_));
  // The hosting window's scale, not the screen's: with per-monitor DPI a
  // window on a second monitor has that monitor's.
  font_dpi_ = window_dots_per_inch(hosting_window());
  font_ = create_point_font(face_, size_, font_dpi_);
  SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

void ctrl_text_window::move_windows() {
  // Laid out again at another scale (the window moved to a monitor of
  // another DPI): the font follows.
  if (window_ && font_ && window_dots_per_inch(hosting_window()) != font_dpi_) apply_font();
  ctrl_base::move_windows();
}

intptr_t ctrl_text_window::call_previous(WindowHandle window, unsigned message, uintptr_t wparam,
                                         intptr_t lparam) {
  if (!previous_proc_) return DefWindowProcW(window, message, wparam, lparam);
  return CallWindowProcW(reinterpret_cast<WNDPROC>(previous_proc_), window, message, wparam,
                         lparam);
}

intptr_t ctrl_text_window::window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                                       intptr_t lparam) {
  switch (message) {
    case WM_KEYDOWN:
      if (wparam == VK_DELETE) post_changed();
      // The screen sees every key, for its own shortcuts.
      platform::post_message(owner_or_self()->window(), WM_KEYDOWN, wparam, lparam);
      // Tab, Enter and Esc belong to the window (focus order, default
      // action, close box), never to the field's text.
      if (wparam == VK_TAB || wparam == VK_RETURN || wparam == VK_ESCAPE) return 0;
      break;
    case WM_CHAR:
      if (wparam == L'\t' || wparam == L'\r' || wparam == 0x1B) return 0;
      post_changed();
      break;
    case WM_NCDESTROY: {
      const LRESULT result = call_previous(window, message, wparam, lparam);
      SetWindowLongPtrW(window, GWLP_WNDPROC, previous_proc_);
      RemovePropW(window, kEditProperty);
      if (control_of_window(window) == this) register_control_window(window, nullptr);
      if (window_ == window) window_ = nullptr;
      return result;
    }
    default:
      break;
  }
  return call_previous(window, message, wparam, lparam);
}

void ctrl_edit::attach() {
  release_window();
  HWND host = hosting_window();
  HWND window = CreateWindowExW(WS_EX_WINDOWEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP |
                                    ES_MULTILINE | ES_AUTOHSCROLL,
                                0, 0, 1, 1, host, nullptr, module(), nullptr);
  if (window) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    if (style & WS_BORDER) SetWindowLongPtrW(window, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_BORDER));
    adopt_window(window);
    ShowWindow(window, visible_ ? SW_SHOW : SW_HIDE);
    SendMessageW(window, EM_SETREADONLY, readonly_, 0);
    apply_font();
    EnableWindow(window, enabled_);
    register_control_window(window, this);
  }
  ctrl_base::attach();
}

void ctrl_edit::set_visible(bool visible) {
  visible_ = visible;
  if (window_) ShowWindow(window_, visible ? SW_SHOW : SW_HIDE);
}

void ctrl_edit::set_enabled(bool enabled) {
  enabled_ = enabled;
  if (window_) EnableWindow(window_, enabled);
}

std::wstring ctrl_edit::get_text() const {
  if (!window_) return std::wstring();
  const int length = GetWindowTextLengthW(window_);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window_, &text[0], length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

intptr_t ctrl_edit::window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                                intptr_t lparam) {
  switch (message) {
    case WM_SIZE: {
      // Centre the single line vertically, 5 pixels in from the left.
      RECT r;
      GetClientRect(window, &r);
      r.left += 5;
      TEXTMETRICW metrics = {};
      HDC dc = GetDC(window);
      HGDIOBJ old = SelectObject(dc, font_ ? static_cast<HFONT>(font_) : GetStockObject(DEFAULT_GUI_FONT));
      GetTextMetricsW(dc, &metrics);
      SelectObject(dc, old);
      ReleaseDC(window, dc);
      int a = (r.bottom - r.top) - metrics.tmHeight - metrics.tmExternalLeading;
      a = a / 2 + a % 2;
      r.top += a;
      r.bottom -= a;
      SendMessageW(window, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&r));
      return 0;
    }
    case WM_KILLFOCUS:
      saved_selection_ = static_cast<uint32_t>(SendMessageW(window, EM_GETSEL, 0, 0));
      break;
    case WM_SETFOCUS: {
      // Coming back keeps the earlier selection instead of selecting all.
      const LRESULT result = call_previous(window, message, wparam, lparam);
      if (saved_selection_ != 0xFFFFFFFF) {
        SendMessageW(window, EM_SETSEL, LOWORD(saved_selection_), HIWORD(saved_selection_));
        SendMessageW(window, EM_SCROLLCARET, 0, 0);
      }
      return result;
    }
    case WM_PASTE:
      post_changed();
      break;
    case WM_CTLCOLOREDIT: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, RGB(0, 1, 0));
      SetBkColor(dc, RGB(255, 254, 255));
      return reinterpret_cast<intptr_t>(GetCurrentObject(dc, OBJ_BRUSH));
    }
    default:
      break;
  }
  return ctrl_text_window::window_proc(window, message, wparam, lparam);
}

ctrl_richedit::ctrl_richedit() { riched_ = LoadSystemLibrary(L"riched20.dll"); }

ctrl_richedit::~ctrl_richedit() {
  // The window goes before the library that holds its class.
  release_window();
  if (riched_) FreeLibrary(riched_);
}

void ctrl_richedit::attach() {
  release_window();
  HWND host = hosting_window();
  HWND window = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"RichEdit20W", L"",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE,
                                0, 0, 1, 1, host, nullptr, module(), nullptr);
  if (window) {
    adopt_window(window);
    SendMessageW(window, EM_SETREADONLY, readonly_, 0);
    std::string bytes;
    if (!file_.empty() && platform::read_file(skin_folder() + L"\\" + file_, &bytes)) {
      SetWindowTextW(window, decode_text_file(bytes).c_str());
    }
    apply_font();
    CHARFORMAT2W format = {};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.crTextColor = RGB(0, 1, 0);
    SendMessageW(window, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    register_control_window(window, this);
  }
  ctrl_base::attach();
}

intptr_t ctrl_richedit::window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                                    intptr_t lparam) {
  // The viewer never shows a caret nor keeps focus state.
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS) return 0;
  return ctrl_text_window::window_proc(window, message, wparam, lparam);
}

}  // namespace dui
