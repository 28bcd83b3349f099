// The skin engine's window-system operations over user32, GDI and the flat
// GDI+ API.
#include <windows.h>

#include <objidl.h>

#include <algorithm>
#include <gdiplus.h>

#include "dui/platform.h"
#include "dui/text_style.h"

namespace dui {
namespace platform {
namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

ULONG_PTR g_gdiplus_token = 0;

RECT to_rect(const rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

}  // namespace

void invalidate_rect(WindowHandle window, const rect* area, bool erase) {
  if (!window) return;
  if (area) {
    const RECT r = to_rect(*area);
    InvalidateRect(window, &r, erase);
  } else {
    InvalidateRect(window, nullptr, erase);
  }
}

void post_message(WindowHandle window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  if (window) PostMessageW(window, message, wparam, lparam);
}

bool is_left_button_down() { return (GetKeyState(VK_LBUTTON) & 0x8000) != 0; }

void set_system_cursor(int id) {
  if (HCURSOR cursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(id))) SetCursor(cursor);
}

int os_major_version() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExW(&info) ? static_cast<int>(info.dwMajorVersion) : 5;
}

bool is_window_visible(WindowHandle window) { return IsWindowVisible(window) != FALSE; }

void show_window(WindowHandle window, bool show) { ShowWindow(window, show ? SW_SHOW : SW_HIDE); }

void move_window(WindowHandle window, const rect& area) {
  SetWindowPos(window, nullptr, area.left, area.top, area.width(), area.height(),
               SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOACTIVATE);
}

void* load_image(const std::wstring& path) {
  GpImage* image = nullptr;
  if (GdipLoadImageFromFile(path.c_str(), &image) != Ok) return nullptr;
  return image;
}

void dispose_image(void* image) { GdipDisposeImage(static_cast<GpImage*>(image)); }

int image_width(void* image) {
  UINT w = 0;
  GdipGetImageWidth(static_cast<GpImage*>(image), &w);
  return static_cast<int>(w);
}

int image_height(void* image) {
  UINT h = 0;
  GdipGetImageHeight(static_cast<GpImage*>(image), &h);
  return static_cast<int>(h);
}

bool file_exists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool read_file(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[16384];
  DWORD read = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr) != FALSE) && read > 0) {
    bytes->append(buffer, read);
  }
  CloseHandle(file);
  return ok;
}

bool set_timer(WindowHandle window, uintptr_t id, unsigned period_ms) {
  return window && SetTimer(window, id, period_ms, nullptr) != 0;
}

void kill_timer(WindowHandle window, uintptr_t id) {
  if (window) KillTimer(window, id);
}

double counter_ms() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void fill_rect(DcHandle dc, const rect& area, uint32_t colorref) {
  const RECT r = to_rect(area);
  const COLORREF old = SetBkColor(dc, colorref);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void draw_image(DcHandle dc, void* image, const rect& source, const rect& target) {
  GpGraphics* graphics = nullptr;
  if (GdipCreateFromHDC(dc, &graphics) != Ok) return;
  // Nearest-neighbour sampling with half-pixel offsets keeps the frame
  // edges of strips exact and blends nothing into the colour key.
  GdipSetInterpolationMode(graphics, InterpolationModeNearestNeighbor);
  GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
  GdipDrawImageRectRectI(graphics, static_cast<GpImage*>(image), target.left, target.top,
                         target.width(), target.height(), source.left, source.top,
                         source.width(), source.height(), UnitPixel, nullptr, nullptr, nullptr);
  GdipDeleteGraphics(graphics);
}

void draw_image_faded(DcHandle dc, void* image, const rect& source, const rect& target,
                      float opacity) {
  GpGraphics* graphics = nullptr;
  if (GdipCreateFromHDC(dc, &graphics) != Ok) return;
  GpImageAttributes* attributes = nullptr;
  GdipCreateImageAttributes(&attributes);
  ColorMatrix matrix = {};
  for (int i = 0; i < 5; ++i) matrix.m[i][i] = 1.0f;
  matrix.m[3][3] = std::clamp(opacity, 0.0f, 1.0f);
  if (attributes) {
    GdipSetImageAttributesColorMatrix(attributes, ColorAdjustTypeDefault, TRUE, &matrix, nullptr,
                                      ColorMatrixFlagsDefault);
  }
  GdipSetInterpolationMode(graphics, InterpolationModeNearestNeighbor);
  GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
  GdipDrawImageRectRectI(graphics, static_cast<GpImage*>(image), target.left, target.top,
                         target.width(), target.height(), source.left, source.top,
                         source.width(), source.height(), UnitPixel, attributes, nullptr, nullptr);
  if (attributes) GdipDisposeImageAttributes(attributes);
  GdipDeleteGraphics(graphics);
}

void stretch_copy(DcHandle dc, const rect& source, const rect& target) {
  if (source.width() <= 0 || source.height() <= 0 || target.width() <= 0 ||
      target.height() <= 0) {
    return;
  }
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, target.left, target.top, target.width(), target.height(), dc, source.left,
             source.top, source.width(), source.height(), SRCCOPY);
}

void draw_text(DcHandle dc, const std::wstring& text, const text_style& style, const rect& area,
               bool disabled) {
  GpGraphics* graphics = nullptr;
  if (GdipCreateFromHDC(dc, &graphics) != Ok) return;
  GpFontFamily* family = nullptr;
  if (GdipCreateFontFamilyFromName(style.face.c_str(), nullptr, &family) != Ok) {
    GdipCreateFontFamilyFromName(L"Arial", nullptr, &family);
  }
  GpFont* font = nullptr;
  if (family) {
    GdipCreateFont(family, static_cast<REAL>(style.size), font_style_from_text(style.font_style),
                   UnitPixel, &font);
  }
  GpStringFormat* generic = nullptr;
  GpStringFormat* format = nullptr;
  GdipStringFormatGetGenericTypographic(&generic);
  if (generic) GdipCloneStringFormat(generic, &format);
  if (format) {
    if (style.limit) GdipSetStringFormatTrimming(format, StringTrimmingEllipsisCharacter);
    GdipSetStringFormatAlign(format, static_cast<StringAlignment>(alignment_from_text(style.xalign)));
    GdipSetStringFormatLineAlign(format,
                                 static_cast<StringAlignment>(alignment_from_text(style.yalign)));
  }
  GpSolidFill* brush = nullptr;
  GdipCreateSolidFill(disabled ? style.color_disabled : style.color, &brush);
  if (font && format && brush) {
    const RectF layout(static_cast<REAL>(area.left), static_cast<REAL>(area.top),
                       static_cast<REAL>(area.width()), static_cast<REAL>(area.height()));
    GdipDrawString(graphics, text.c_str(), static_cast<INT>(text.size()), font, &layout, format,
                   brush);
  }
  if (brush) GdipDeleteBrush(brush);
  if (family) GdipDeleteFontFamily(family);
  if (format) GdipDeleteStringFormat(format);
  if (font) GdipDeleteFont(font);
  GdipDeleteGraphics(graphics);
}

void start_graphics() {
  GdiplusStartupInput input;  // version 1, no debug callback, background thread
  GdiplusStartup(&g_gdiplus_token, &input, nullptr);
}

void stop_graphics() {
  if (g_gdiplus_token) GdiplusShutdown(g_gdiplus_token);
  g_gdiplus_token = 0;
}

}  // namespace platform
}  // namespace dui
