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
class ctrl_base;

namespace platform {

void invalidate_rect(WindowHandle window, const rect* area, bool erase);
void post_message(WindowHandle window, unsigned message, uintptr_t wparam, intptr_t lparam);
bool is_left_button_down();
void set_system_cursor(int id);
int os_major_version();
bool is_window_visible(WindowHandle window);
void show_window(WindowHandle window, bool show);
void move_window(WindowHandle window, const rect& area);

// High DPI. Controls lay out, hit-test and draw in 96-DPI units; a
// window's scale (its DPI / 96) turns them into its pixels. The draw scale
// is the scale of the window being painted.
unsigned window_dpi(WindowHandle window);
void set_window_scale(WindowHandle window, double scale);
double window_scale(WindowHandle window);
void set_draw_scale(double scale);
// A 96-DPI coordinate in pixels at a scale (rounded to the nearest).
int to_pixels(int units, double scale);

// Images: an opaque GDI+ image loaded from a file (nullptr when the name is
// empty), holding `pixels_per_unit` pixels per 96-DPI unit (2 for the @2x
// images). Width and height are in units, 0 for an image that could not be
// decoded. Drawn at a scale other than its own, an image is resampled
// smoothly; at its own scale, pixel for pixel.
void* load_image(const std::wstring& path, int pixels_per_unit = 1);
void dispose_image(void* image);
int image_width(void* image);
int image_height(void* image);
bool file_exists(const std::wstring& path);
bool read_file(const std::wstring& path, std::string* bytes);

// Window timers: WM_TIMER with the id reaches the window's procedure, on
// the window's own thread. False when no timer could be started.
bool set_timer(WindowHandle window, uintptr_t id, unsigned period_ms);
void kill_timer(WindowHandle window, uintptr_t id);

// Tells assistive technology that a control took the focus or changed its
// value or state (nothing when no window shows the control).
enum class access_event { focus, value_change, state_change };
void notify_access(ctrl_base* control, access_event event);

// Milliseconds of the high-resolution counter.
double counter_ms();

// Drawing into a device context.
void fill_rect(DcHandle dc, const rect& area, uint32_t colorref);
void draw_image(DcHandle dc, void* image, const rect& source, const rect& target);
// The image drawn with its alpha multiplied by `opacity` (0 to 1).
void draw_image_faded(DcHandle dc, void* image, const rect& source, const rect& target,
                      float opacity);
// Stretches pixels already drawn in the context to another place of it.
void stretch_copy(DcHandle dc, const rect& source, const rect& target);
void draw_text(DcHandle dc, const std::wstring& text, const text_style& style, const rect& area,
               bool disabled);

// GDI+ start-up and shutdown for the registry's lifetime.
void start_graphics();
void stop_graphics();

}  // namespace platform
}  // namespace dui
