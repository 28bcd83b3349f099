// The window-bound parts of the top-level control: subclassing a screen's
// window, the layered colour-key window, the corner region, double-buffered
// painting, tool tips and mouse dispatch.
#include <windows.h>

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>

#include "dui/accessible_win.h"
#include "dui/ctrl_dialog.h"
#include "dui/layout.h"
#include "dui/platform.h"
#include "dui/skin_image.h"

namespace dui {
namespace {

const wchar_t kBindProperty[] = L"bindPointer";
constexpr COLORREF kColorKey = RGB(255, 0, 255);
// WM_DPICHANGED (Windows 8.1 and later; the headers show it from Windows 7).
constexpr UINT kMsgDpiChanged = 0x02E0;

LRESULT CALLBACK subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* control = static_cast<ctrl_base*>(GetPropW(window, kBindProperty));
  if (!control) return 1;
  return control->window_proc(window, message, wparam, lparam);
}

HRGN create_corner_region(int width, int height, int corner) {
  const auto corners = corner_region(width, height, corner);
  POINT points[8];
  for (int i = 0; i < 8; ++i) points[i] = POINT{corners[i].x, corners[i].y};
  return CreatePolygonRgn(points, 8, WINDING);
}

}  // namespace

ctrl_dialog::~ctrl_dialog() {
  for (const auto& saved : saved_procs_) {
    HWND window = saved.first;
    if (!IsWindow(window) || GetPropW(window, kBindProperty) != this) continue;
    SetWindowLongPtrW(window, GWLP_WNDPROC, saved.second);
    RemovePropW(window, kBindProperty);
  }
}

void ctrl_dialog::attach_to(WindowHandle window, ModuleHandle module) {
  window_ = window;
  module_ = module;
  attach();
  // The screens' dialog templates carry a caption and maximise box; the
  // skin window has neither but keeps its system menu for the taskbar.
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  SetWindowLongPtrW(window, GWL_STYLE,
                    (style & ~static_cast<LONG_PTR>(WS_CAPTION | WS_MAXIMIZEBOX)) |
                        WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX);
}

void ctrl_dialog::apply_scale(WindowHandle window, unsigned dpi) {
  // 96 to 480 DPI: 100 % to 500 %.
  scale_ = std::clamp(static_cast<int>(dpi), 96, 480) / 96.0;
  platform::set_window_scale(window, scale_);
  // Above 125 % the 2x images are sharper than 1x ones stretched.
  if (scale_ > 1.25) set_prefer_double_images(true);
}

void ctrl_dialog::attach() {
  HWND window = window_;
  apply_scale(window, platform::window_dpi(window));
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  const LONG_PTR new_style = (style & ~static_cast<LONG_PTR>(0x00CB0000)) | 0x86000000;
  if (new_style != style) SetWindowLongPtrW(window, GWL_STYLE, new_style);
  const LONG_PTR ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  SetWindowLongPtrW(window, GWL_EXSTYLE, (ex_style & ~static_cast<LONG_PTR>(WS_EX_ACCEPTFILES)) |
                                             WS_EX_LAYERED);
  SetLayeredWindowAttributes(window, kColorKey, 255, LWA_COLORKEY | LWA_ALPHA);

  rect_ = rect{0, 0, width_, height_};
  const int pixel_width = platform::to_pixels(width_, scale_);
  const int pixel_height = platform::to_pixels(height_, scale_);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - pixel_width) >> 1;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - pixel_height) >> 1;
  screen_rect_ = rect{left, top, left + pixel_width, top + pixel_height};
  MoveWindow(window, left, top, pixel_width, pixel_height, TRUE);
  if (parent_ && owner_ && owner_->window()) SetParent(window, owner_->window());

  tool_tip_enabled_ = true;
  if (!tool_tip_ || !IsWindow(tool_tip_)) {
    tool_tip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, L"", TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                window, nullptr, module_, nullptr);
    if (tool_tip_) SendMessageW(tool_tip_, TTM_SETMAXTIPWIDTH, 0, 245);
    tool_tip_text_.clear();
  }

  // Each window keeps the procedure it had: one tree may be attached to
  // two windows at once.
  if (GetPropW(window, kBindProperty) == nullptr) {
    const LONG_PTR previous =
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&subclass_proc));
    if (previous && previous != reinterpret_cast<LONG_PTR>(&subclass_proc)) {
      saved_procs_[window] = previous;
    }
  }
  SetPropW(window, kBindProperty, this);
  ctrl_base::attach();
}

void ctrl_dialog::set_height(int height) {
  height_ = height;
  rect_ = rect{0, 0, width_, height_};
  RECT r;
  GetWindowRect(window_, &r);
  SetWindowPos(window_, nullptr, r.left, r.top, platform::to_pixels(width_, scale_),
               platform::to_pixels(height_, scale_), SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

intptr_t ctrl_dialog::window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                                  intptr_t lparam) {
  const auto saved = saved_procs_.find(window);
  const auto call_saved = [&]() -> LRESULT {
    if (saved == saved_procs_.end()) return DefWindowProcW(window, message, wparam, lparam);
    return CallWindowProcW(reinterpret_cast<WNDPROC>(saved->second), window, message, wparam,
                           lparam);
  };

  // The controls see mouse points in units.
  LPARAM units = lparam;
  if (scale_ != 1.0 && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST &&
      message != WM_MOUSEWHEEL) {
    units = MAKELPARAM(static_cast<int>(GET_X_LPARAM(lparam) / scale_),
                       static_cast<int>(GET_Y_LPARAM(lparam) / scale_));
  }
  if (message == WM_MOUSEMOVE && tool_tip_enabled_) {
    update_tool_tip(window, hit_test(this, GET_X_LPARAM(units), GET_Y_LPARAM(units)), message,
                    wparam, lparam);
  }
  ctrl_base* target = nullptr;
  if (dispatch(message, wparam, units, &target)) return 1;

  switch (message) {
    case WM_TIMER:
      if (wparam >= kScreenTimerFirst && wparam <= kScreenTimerLast) return call_saved();
      return is_live_timer(wparam) ? 1 : call_saved();
    case WM_MOVE:
      invalidate(true);
      break;
    case WM_SIZE: {
      rect_.right = static_cast<int>(std::lround(LOWORD(lparam) / scale_));
      rect_.bottom = static_cast<int>(std::lround(HIWORD(lparam) / scale_));
      layout();
      move_windows();
      if (rgn_width_ < 0) {
        invalidate(true);
      } else {
        apply_region(window);
      }
      break;
    }
    case WM_WINDOWPOSCHANGED:
      // Wine keeps the cut corners of a region set before the first show
      // opaque; set it again once the window is shown.
      if ((reinterpret_cast<const WINDOWPOS*>(lparam)->flags & SWP_SHOWWINDOW) && rgn_width_ >= 0) {
        apply_region(window);
      }
      return call_saved();
    case WM_PAINT:
      return on_paint(window, message, wparam, lparam);
    case WM_ERASEBKGND:
    case WM_NCACTIVATE:
      return 1;
    case WM_MOUSEMOVE:
      if (!tracking_mouse_) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        tracking_mouse_ = TrackMouseEvent(&track) != FALSE;
      }
      return call_saved();
    case WM_MOUSELEAVE:
      tracking_mouse_ = false;
      return call_saved();
    case WM_CTLCOLOREDIT: {
      // An edit's colours are answered by its own control's procedure.
      ctrl_base* edit = control_of_window(reinterpret_cast<WindowHandle>(lparam));
      if (edit && edit->window()) return SendMessageW(edit->window(), message, wparam, lparam);
      return call_saved();
    }
    case WM_CTLCOLORDLG:
      return 1;
    case WM_GETDLGCODE:
      // The window answers its own keys: IsDialogMessage must not turn Tab,
      // Enter and Esc into navigation among child windows it cannot see.
      return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
    case WM_KEYDOWN: {
      // An edit that has the window focus (clicked into) is where Tab
      // moves on from.
      HWND focus = GetFocus();
      if (focus && focus != window && IsChild(window, focus)) {
        if (ctrl_base* edit = control_of_window(reinterpret_cast<WindowHandle>(focus))) {
          focused_ = edit;
        }
      }
      if (on_key(static_cast<unsigned>(wparam), GetKeyState(VK_SHIFT) < 0)) return 0;
      return call_saved();
    }
    case WM_SYSCOMMAND:
      // Alt+F4 and the taskbar's close act as the close box, with whatever
      // confirmation the screen asks for.
      if ((wparam & 0xFFF0) == SC_CLOSE && press_close_box()) return 0;
      return call_saved();
    case WM_ACTIVATE: {
      const LRESULT result = call_saved();
      if (LOWORD(wparam) != WA_INACTIVE) {
        // Keys must reach this window (or its focused edit), never nobody.
        HWND focus = GetFocus();
        if (focused_ && !focused_->windowless() && focused_->window() && can_focus(focused_)) {
          SetFocus(focused_->window());
        } else if (focus != window && !IsChild(window, focus)) {
          SetFocus(window);
        }
      }
      return result;
    }
    case kMsgDpiChanged: {
      // Moved to a monitor of another DPI: the suggested place, the size at
      // the new scale, everything laid out and drawn again.
      apply_scale(window, LOWORD(wparam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   platform::to_pixels(width_, scale_), platform::to_pixels(height_, scale_),
                   SWP_NOZORDER | SWP_NOACTIVATE);
      layout();
      move_windows();
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    }
    case WM_GETOBJECT:
      if (static_cast<LONG>(lparam) == static_cast<LONG>(OBJID_CLIENT)) {
        if (const LRESULT object = accessible_object_result(window, wparam)) return object;
      }
      return call_saved();
    case WM_NCDESTROY: {
      // The window goes: give it back its own procedure.
      const LRESULT result = call_saved();
      if (saved != saved_procs_.end()) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, saved->second);
        saved_procs_.erase(saved);
      }
      RemovePropW(window, kBindProperty);
      if (window_ == window) window_ = nullptr;
      return result;
    }
    default:
      break;
  }
  return call_saved();
}

void ctrl_dialog::focus_changed() {
  HWND window = window_;
  if (!window) return;
  HWND focus = GetFocus();
  if (focused_ && !focused_->windowless() && focused_->window()) {
    SetFocus(focused_->window());
  } else if (focus && focus != window && IsChild(window, focus)) {
    SetFocus(window);
  }
  // The ring lies partly outside its control: the whole window repaints.
  InvalidateRect(window, nullptr, FALSE);
  if (focused_) platform::notify_access(focused_, platform::access_event::focus);
}

void ctrl_dialog::apply_region(WindowHandle window) {
  RECT client;
  GetClientRect(window, &client);
  // Wine shapes a colour-keyed window by its pixels alone: what the region
  // cuts away must hold the colour key, or it shows. Painting is clipped to
  // the region, so fill before setting it.
  SetWindowRgn(window, nullptr, FALSE);
  if (HDC dc = GetDC(window)) {
    SetBkColor(dc, kColorKey);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &client, nullptr, 0, nullptr);
    ReleaseDC(window, dc);
  }
  SetWindowRgn(window,
               create_corner_region(client.right, client.bottom,
                                    rgn_width_ > 0 ? platform::to_pixels(rgn_width_, scale_) : rgn_width_),
               TRUE);
}

intptr_t ctrl_dialog::on_paint(WindowHandle window, unsigned, uintptr_t, intptr_t) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  const RECT& pixels = ps.rcPaint;
  // The controls repaint the units the update covers, grown to whole ones.
  rect update{pixels.left, pixels.top, pixels.right, pixels.bottom};
  if (scale_ != 1.0) {
    update = rect{static_cast<int>(std::floor(pixels.left / scale_)),
                  static_cast<int>(std::floor(pixels.top / scale_)),
                  std::min(static_cast<int>(std::ceil(pixels.right / scale_)), rect_.right),
                  std::min(static_cast<int>(std::ceil(pixels.bottom / scale_)), rect_.bottom)};
    if (update.left <= 0 && update.top <= 0 && update.right >= rect_.right &&
        update.bottom >= rect_.bottom) {
      update = rect_;
    }
  }
  const int pixel_width = platform::to_pixels(width_, scale_);
  const int pixel_height = platform::to_pixels(height_, scale_);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, pixel_width, pixel_height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const RECT all = {0, 0, pixel_width, pixel_height};
  SetBkColor(memory, kColorKey);
  ExtTextOutW(memory, 0, 0, ETO_OPAQUE, &all, nullptr, 0, nullptr);
  platform::set_draw_scale(scale_);
  render(memory, update);
  platform::set_draw_scale(1.0);
  BitBlt(dc, pixels.left, pixels.top, pixels.right - pixels.left, pixels.bottom - pixels.top,
         memory, pixels.left, pixels.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  EndPaint(window, &ps);
  return 1;
}

void ctrl_dialog::update_tool_tip(WindowHandle window, ctrl_base* target, unsigned message,
                                  uintptr_t wparam, intptr_t lparam) {
  if (!tool_tip_ || !target || !target->is_visible() || !target->windowless()) return;
  const std::wstring hint = target->get_hint();
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = GetParent(window);
  tool.uId = reinterpret_cast<UINT_PTR>(window);
  if (hint != tool_tip_text_) {
    tool_tip_text_ = hint;
    SendMessageW(tool_tip_, TTM_ACTIVATE, TRUE, 0);
    SendMessageW(tool_tip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = const_cast<wchar_t*>(tool_tip_text_.c_str());
    SendMessageW(tool_tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tool_tip_, TTM_POPUP, 0, 0);
  }
  MSG relay = {window, message, wparam, lparam, 0, {}};
  SendMessageW(tool_tip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relay));
}

intptr_t ctrl_base::window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                                intptr_t lparam) {
  // Window-backed children (edits) hand their commands to the screen.
  if (message == WM_COMMAND) {
    ctrl_base* owner = owner_or_self();
    if (owner->window()) return SendMessageW(owner->window(), message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace dui
