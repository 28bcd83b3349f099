// Message pumping and screenshots of the screen for the window tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dui {

// A file name in the test program's folder (tests change the current one).
inline std::string beside_test_program(const char* name) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}

inline void pump(int ms) {
  const DWORD end = GetTickCount() + ms;
  while (static_cast<int>(end - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

// The screen's pixels of a rectangle, top-down, as 0x00RRGGBB.
struct screenshot {
  int left, top, width, height;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels[(y - top) * width + (x - left)]; }

  void save_bmp(const char* path) const {
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + pixels.size() * 4;
    if (FILE* f = std::fopen(path, "wb")) {
      std::fwrite(&file, sizeof file, 1, f);
      std::fwrite(&info, sizeof info, 1, f);
      std::fwrite(pixels.data(), 4, pixels.size(), f);
      std::fclose(f);
    }
  }
};

inline screenshot capture(const RECT& r) {
  screenshot shot{r.left, r.top, r.right - r.left, r.bottom - r.top, {}};
  shot.pixels.resize(shot.width * shot.height);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, shot.width, shot.height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const uint32_t* p = static_cast<const uint32_t*>(bits);
  for (size_t i = 0; i < shot.pixels.size(); ++i) shot.pixels[i] = p[i] & 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return shot;
}

}  // namespace dui
