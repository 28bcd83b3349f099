// Types shared by the skin engine's portable and Win32 files. Window handles
// are the Win32 handle types, declared here without <windows.h> so that the
// control tree, layout and readers build and are tested on any host.
#pragma once

#include <cstdint>

struct HWND__;
struct HDC__;
struct HINSTANCE__;

namespace dui {

using WindowHandle = HWND__*;
using DcHandle = HDC__*;
using ModuleHandle = HINSTANCE__*;

struct rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  // Same rule as PtInRect: the right and bottom edges are outside.
  bool contains(int32_t x, int32_t y) const {
    return x >= left && x < right && y >= top && y < bottom;
  }
  bool operator==(const rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const rect& o) const { return !(*this == o); }
};

// Window messages the engine dispatches (same numbers as Win32).
constexpr unsigned kMsgTimer = 0x0113;
constexpr unsigned kMsgMouseMove = 0x0200;
constexpr unsigned kMsgLButtonDown = 0x0201;
constexpr unsigned kMsgLButtonUp = 0x0202;
constexpr unsigned kMsgLButtonDblClk = 0x0203;
constexpr unsigned kMsgMouseLeave = 0x02A3;

// Notifications posted to a screen's window; lParam is the address of the
// control's name (zero-terminated narrow string, valid while the control lives).
constexpr unsigned SKIN_MSG_CLICK = 0x826;
constexpr unsigned SKIN_MSG_CHECK_CLICK = 0x84C;
constexpr unsigned SKIN_MSG_RADIO_CLICK = 0x914;
constexpr unsigned SKIN_MSG_EDIT_CHANGED = 0x8B0;

// Timer ids 1001 to 1100 belong to the screens; the engine never uses them.
constexpr uintptr_t kScreenTimerFirst = 1001;
constexpr uintptr_t kScreenTimerLast = 1100;

class ctrl_base;

// What a windowless control receives from the dispatcher.
struct skin_event {
  ctrl_base* target = nullptr;
  ctrl_base* top = nullptr;
  unsigned message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;

  // The client point of a mouse message: signed 16-bit x and y.
  int x() const { return static_cast<int16_t>(static_cast<uint32_t>(lparam) & 0xFFFF); }
  int y() const { return static_cast<int16_t>((static_cast<uint32_t>(lparam) >> 16) & 0xFFFF); }
};

}  // namespace dui
