// The few window-system operations the portable control code needs. The
// Win32 build defines them over user32, GDI and GDI+ (platform_win.cpp); the
// host build, which has no window system, defines them as no-ops
// (platform_nowin.cpp) so the tree, layout and events are tested there.
#pragma once

#include <cstdint>
#include <string>

#include "dui/dui_types.h"

namespace dui {

struct text_style;

namespace platform {

void invalidate_rect(WindowHandle window, const rect* area, bool erase);
void post_message(WindowHandle window, unsigned message, uintptr_t wparam, intptr_t lparam);
bool is_left_button_down();
void set_system_cursor(int id);
int os_major_version();
bool is_window_visible(WindowHandle window);
void show_window(WindowHandle window, bool show);
void move_window(WindowHandle window, const rect& area);

// Images: an opaque GDI+ image loaded from a file (nullptr when the name is
// empty). Width and height are 0 for an image that could not be decoded.
void* load_image(const std::wstring& path);
void dispose_image(void* image);
int image_width(void* image);
int image_height(void* image);
bool file_exists(const std::wstring& path);
bool read_file(const std::wstring& path, std::string* bytes);

// Drawing into a device context.
void fill_rect(DcHandle dc, const rect& area, uint32_t colorref);
void draw_image(DcHandle dc, void* image, const rect& source, const rect& target);
void draw_text(DcHandle dc, const std::wstring& text, const text_style& style, const rect& area,
               bool disabled);

// GDI+ start-up and shutdown for the registry's lifetime.
void start_graphics();
void stop_graphics();

}  // namespace platform
}  // namespace dui
