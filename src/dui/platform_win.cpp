// The skin engine's window-system operations over user32, GDI and the flat
// GDI+ API.
#include <windows.h>

#include <objidl.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <gdiplus.h>

#include "dui/platform.h"
#include "dui/text_style.h"

namespace dui {
namespace platform {
namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

ULONG_PTR g_gdiplus_token = 0;
double g_draw_scale = 1.0;

std::map<HWND, double>& window_scales() {
  static std::map<HWND, double> scales;
  return scales;
}

// Pixels per unit of the images loaded at 2x.
std::map<void*, int>& image_scales() {
  static std::map<void*, int> scales;
  return scales;
}

int image_scale(void* image) {
  const auto found = image_scales().find(image);
  return found == image_scales().end() ? 1 : found->second;
}

RECT to_rect(const rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// A rectangle of units in pixels at the draw scale.
rect device(const rect& r, double scale = g_draw_scale) {
  if (scale == 1.0) return r;
  return rect{to_pixels(r.left, scale), to_pixels(r.top, scale), to_pixels(r.right, scale),
              to_pixels(r.bottom, scale)};
}

// An area to repaint, grown to whole pixels.
RECT device_outward(const rect& r, double scale) {
  return RECT{static_cast<LONG>(std::floor(r.left * scale)), static_cast<LONG>(std::floor(r.top * scale)),
              static_cast<LONG>(std::ceil(r.right * scale)), static_cast<LONG>(std::ceil(r.bottom * scale))};
}

}  // namespace

int to_pixels(int units, double scale) {
  return static_cast<int>(std::lround(units * scale));
}

unsigned window_dpi(WindowHandle window) {
  // GetDpiForWindow (Windows 10 1607 and later) knows the window's monitor;
  // older systems have one DPI, which a DPI-aware process reads from the
  // screen's device context.
  using dpi_for_window = UINT(WINAPI*)(HWND);
  static const auto for_window = reinterpret_cast<dpi_for_window>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (for_window && window) {
    if (const UINT dpi = for_window(window)) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

void set_window_scale(WindowHandle window, double scale) {
  if (scale == 1.0) {
    window_scales().erase(window);
  } else {
    window_scales()[window] = scale;
  }
}

double window_scale(WindowHandle window) {
  const auto found = window_scales().find(window);
  return found == window_scales().end() ? 1.0 : found->second;
}

void set_draw_scale(double scale) { g_draw_scale = scale; }

void invalidate_rect(WindowHandle window, const rect* area, bool erase) {
  if (!window) return;
  if (area) {
    const double scale = window_scale(window);
    const RECT r = scale == 1.0 ? to_rect(*area) : device_outward(*area, scale);
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

void move_window(WindowHandle window, const rect& units) {
  // A child window sits in its parent's pixels.
  const rect area = device(units, window_scale(GetParent(window)));
  SetWindowPos(window, nullptr, area.left, area.top, area.width(), area.height(),
               SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOACTIVATE);
}

void* load_image(const std::wstring& path, int pixels_per_unit) {
  GpImage* image = nullptr;
  if (GdipLoadImageFromFile(path.c_str(), &image) != Ok) return nullptr;
  if (pixels_per_unit > 1) image_scales()[image] = pixels_per_unit;
  return image;
}

void dispose_image(void* image) {
  image_scales().erase(image);
  GdipDisposeImage(static_cast<GpImage*>(image));
}

int image_width(void* image) {
  UINT w = 0;
  GdipGetImageWidth(static_cast<GpImage*>(image), &w);
  return static_cast<int>(w) / image_scale(image);
}

int image_height(void* image) {
  UINT h = 0;
  GdipGetImageHeight(static_cast<GpImage*>(image), &h);
  return static_cast<int>(h) / image_scale(image);
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
  const RECT r = to_rect(device(area));
  const COLORREF old = SetBkColor(dc, colorref);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

namespace {

// Draws the source units of an image into the target units at the draw
// scale. At the image's own scale, nearest-neighbour sampling with
// half-pixel offsets keeps the frame edges of strips exact and blends
// nothing into the colour key; at another scale the image is resampled
// smoothly, its edges clamped so that nothing outside it blends in.
void draw_scaled(DcHandle dc, void* image, const rect& units_source, const rect& units_target,
                 GpImageAttributes* attributes) {
  GpGraphics* graphics = nullptr;
  if (GdipCreateFromHDC(dc, &graphics) != Ok) return;
  const int own = image_scale(image);
  const rect source = device(units_source, own);
  const rect target = device(units_target);
  const bool exact = g_draw_scale == own;
  GdipSetInterpolationMode(graphics, exact ? InterpolationModeNearestNeighbor
                                           : InterpolationModeHighQualityBicubic);
  GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
  GpImageAttributes* clamp = nullptr;
  if (!exact && !attributes && GdipCreateImageAttributes(&clamp) == Ok) {
    GdipSetImageAttributesWrapMode(clamp, WrapModeTileFlipXY, 0, FALSE);
    attributes = clamp;
  }
  GdipDrawImageRectRectI(graphics, static_cast<GpImage*>(image), target.left, target.top,
                         target.width(), target.height(), source.left, source.top,
                         source.width(), source.height(), UnitPixel, attributes, nullptr, nullptr);
  if (clamp) GdipDisposeImageAttributes(clamp);
  GdipDeleteGraphics(graphics);
}

}  // namespace

void draw_image(DcHandle dc, void* image, const rect& source, const rect& target) {
  draw_scaled(dc, image, source, target, nullptr);
}

void draw_image_faded(DcHandle dc, void* image, const rect& source, const rect& target,
                      float opacity) {
  GpImageAttributes* attributes = nullptr;
  GdipCreateImageAttributes(&attributes);
  ColorMatrix matrix = {};
  for (int i = 0; i < 5; ++i) matrix.m[i][i] = 1.0f;
  matrix.m[3][3] = std::clamp(opacity, 0.0f, 1.0f);
  if (attributes) {
    GdipSetImageAttributesColorMatrix(attributes, ColorAdjustTypeDefault, TRUE, &matrix, nullptr,
                                      ColorMatrixFlagsDefault);
  }
  draw_scaled(dc, image, source, target, attributes);
  if (attributes) GdipDisposeImageAttributes(attributes);
}

void stretch_copy(DcHandle dc, const rect& units_source, const rect& units_target) {
  const rect source = device(units_source), target = device(units_target);
  if (source.width() <= 0 || source.height() <= 0 || target.width() <= 0 ||
      target.height() <= 0) {
    return;
  }
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, target.left, target.top, target.width(), target.height(), dc, source.left,
             source.top, source.width(), source.height(), SRCCOPY);
}

void draw_text(DcHandle dc, const std::wstring& text, const text_style& style, const rect& units,
               bool disabled) {
  GpGraphics* graphics = nullptr;
  if (GdipCreateFromHDC(dc, &graphics) != Ok) return;
  GpFontFamily* family = nullptr;
  if (GdipCreateFontFamilyFromName(style.face.c_str(), nullptr, &family) != Ok) {
    GdipCreateFontFamilyFromName(L"Arial", nullptr, &family);
  }
  GpFont* font = nullptr;
  if (family) {
    GdipCreateFont(family, static_cast<REAL>(style.size * g_draw_scale),
                   font_style_from_text(style.font_style), UnitPixel, &font);
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
    const rect area = device(units);
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
