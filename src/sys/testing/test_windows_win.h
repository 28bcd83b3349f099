#pragma once

#include <windows.h>

#include <functional>

struct WindowSearch {
  const std::function<bool(HWND)>* match;
  HWND found;
};

inline BOOL CALLBACK VisitWindowForSearch(HWND window, LPARAM parameter) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
  if (!(*search->match)(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// The first top-level window that match accepts, polled every 50 ms for at
// most timeoutMs; null when none showed.
inline HWND WaitForWindowMatching(const std::function<bool(HWND)>& match, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    WindowSearch search{&match, nullptr};
    EnumWindows(VisitWindowForSearch, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(50);
  }
}

inline DWORD WindowProcess(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

// A press and release of the left button at a client point of the window,
// as the mouse would deliver them.
inline void ClickAt(HWND window, int x, int y) {
  const LPARAM point = MAKELPARAM(x, y);
  PostMessageW(window, WM_MOUSEMOVE, 0, point);
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
  PostMessageW(window, WM_LBUTTONUP, 0, point);
}
