// Hosts without a window system (the sanitizer tests, the fuzz targets):
// window operations do nothing, files are read through the C library, and
// posted messages are kept so tests can see what a control posted.
#include <cstdio>

#include "dui/platform.h"
#include "dui/platform_nowin.h"
#include "dui/ctrl_dialog.h"
#include "dui/ctrl_edit.h"
#include "dui/text_codec.h"

namespace dui {

std::vector<posted_message>& posted_messages() {
  static std::vector<posted_message> messages;
  return messages;
}

namespace {
bool timers_fail = false;
}  // namespace
void set_timers_fail(bool fail) { timers_fail = fail; }

namespace platform {

void invalidate_rect(WindowHandle, const rect*, bool) {}
void post_message(WindowHandle window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  posted_messages().push_back(posted_message{window, message, wparam, lparam});
}
bool is_left_button_down() { return false; }
void set_system_cursor(int) {}
int os_major_version() { return 6; }
bool is_window_visible(WindowHandle) { return false; }
void show_window(WindowHandle, bool) {}
void move_window(WindowHandle, const rect&) {}
void* load_image(const std::wstring&, int) { return nullptr; }
unsigned window_dpi(WindowHandle) { return 96; }
void set_window_scale(WindowHandle, double) {}
double window_scale(WindowHandle) { return 1.0; }
void set_draw_scale(double) {}
int to_pixels(int units, double scale) { return static_cast<int>(units * scale + (units < 0 ? -0.5 : 0.5)); }
void dispose_image(void*) {}
int image_width(void*) { return 0; }
int image_height(void*) { return 0; }

bool file_exists(const std::wstring& path) {
  std::FILE* f = std::fopen(wide_to_utf8(path).c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

bool read_file(const std::wstring& path, std::string* bytes) {
  std::FILE* f = std::fopen(wide_to_utf8(path).c_str(), "rb");
  if (!f) return false;
  bytes->clear();
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  std::fclose(f);
  return true;
}

// Tests run the ticks themselves; a started timer only needs to succeed.
bool set_timer(WindowHandle window, uintptr_t, unsigned) { return window && !timers_fail; }
void kill_timer(WindowHandle, uintptr_t) {}
double counter_ms() { return 0; }
void notify_access(ctrl_base*, access_event) {}
void fill_rect(DcHandle, const rect&, uint32_t) {}
void draw_image(DcHandle, void*, const rect&, const rect&) {}
void draw_image_faded(DcHandle, void*, const rect&, const rect&, float) {}
void stretch_copy(DcHandle, const rect&, const rect&) {}
void draw_text(DcHandle, const std::wstring&, const text_style&, const rect&, bool) {}
void start_graphics() {}
void stop_graphics() {}

}  // namespace platform

// The window-bound parts of the top-level control.
ctrl_dialog::~ctrl_dialog() = default;
void ctrl_dialog::attach() {
  rect_ = rect{0, 0, width_, height_};
  ctrl_base::attach();
}
void ctrl_dialog::attach_to(WindowHandle window, ModuleHandle module) {
  window_ = window;
  module_ = module;
  attach();
}
intptr_t ctrl_dialog::window_proc(WindowHandle, unsigned, uintptr_t, intptr_t) { return 0; }
intptr_t ctrl_dialog::on_paint(WindowHandle, unsigned, uintptr_t, intptr_t) { return 1; }
void ctrl_dialog::set_height(int height) {
  height_ = height;
  rect_ = rect{0, 0, width_, height_};
}
void ctrl_dialog::update_tool_tip(WindowHandle, ctrl_base*, unsigned, uintptr_t, intptr_t) {}
void ctrl_dialog::apply_region(WindowHandle) {}
void ctrl_dialog::focus_changed() {}
intptr_t ctrl_base::window_proc(WindowHandle, unsigned, uintptr_t, intptr_t) { return 0; }

}  // namespace dui

namespace dui {

// Text windows have no window on the host: they load their keys and lay
// out like any control.
ctrl_text_window::~ctrl_text_window() = default;
intptr_t ctrl_text_window::window_proc(WindowHandle, unsigned, uintptr_t, intptr_t) { return 0; }
void ctrl_text_window::move_windows() { ctrl_base::move_windows(); }
void ctrl_edit::attach() {
  rect_ = compute_own_rect();
  ctrl_base::attach();
}
void ctrl_edit::set_visible(bool visible) { visible_ = visible; }
void ctrl_edit::set_enabled(bool enabled) { enabled_ = enabled; }
std::wstring ctrl_edit::get_text() const { return std::wstring(); }
intptr_t ctrl_edit::window_proc(WindowHandle, unsigned, uintptr_t, intptr_t) { return 0; }
ctrl_richedit::ctrl_richedit() = default;
ctrl_richedit::~ctrl_richedit() = default;
void ctrl_richedit::attach() {
  rect_ = compute_own_rect();
  ctrl_base::attach();
}
intptr_t ctrl_richedit::window_proc(WindowHandle, unsigned, uintptr_t, intptr_t) { return 0; }

}  // namespace dui
