// The top-level control of a skin node: takes over a screen's window, makes
// it a borderless colour-keyed layered popup, double-buffers the painting of
// its windowless controls and dispatches mouse messages to them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dui/ctrl_base.h"

namespace dui {

// The focus ring's colour when the skin names none.
constexpr char kDefaultFocusColor[] = "26,115,232";

class ctrl_dialog : public ctrl_base {
 public:
  ctrl_dialog() = default;
  ~ctrl_dialog() override;

  const char* type_name() const override { return "dialog"; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;
  intptr_t window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                       intptr_t lparam) override;
  virtual intptr_t on_paint(WindowHandle window, unsigned message, uintptr_t wparam,
                            intptr_t lparam);

  // Binds the tree to a screen's window and runs attach.
  void attach_to(WindowHandle window, ModuleHandle module);
  // Draws every windowless child into a device context of the dialog's size
  // filled with the colour key (the memory context of a paint, or a viewer's
  // snapshot).
  void render(DcHandle dc, const rect& update);
  void set_height(int height);

  // The windowless part of message dispatch: timer records and mouse
  // messages reach the control under the point. Returns whether the message
  // was consumed; `target` receives the control a mouse message hit.
  bool dispatch(unsigned message, uintptr_t wparam, intptr_t lparam, ctrl_base** target);
  ctrl_base* hovered() const { return hovered_; }

  // Keyboard. The tab order holds every interactive control of the tree:
  // those with a "tabindex" first, ascending, then the others in tree
  // order (pre-order, children in name order). Tab and Shift+Tab move to
  // the next or previous control that can take the focus now: enabled,
  // visible and not covered by another control (what a click at its
  // centre would hit), or for an edit its enabled, visible window.
  std::vector<ctrl_base*> tab_order();
  bool can_focus(ctrl_base* control);
  ctrl_base* focused() const { return focused_; }
  // Moves the focus (nullptr: none) and repaints the focus ring.
  void set_focus(ctrl_base* control);
  // Tab / Shift+Tab; false when nothing can take the focus.
  bool move_focus(bool backwards);
  // A key pressed in the window: Tab moves the focus, Enter activates the
  // focused control or, with none (or an edit) focused, the window's
  // "default" control, Space activates the focused control, Esc acts as
  // the close box. True when the key was one of these.
  bool on_key(unsigned key, bool shift);
  // What the close box does, for Esc and the system close (Alt+F4): true
  // when the window has a close box (a disabled one does nothing).
  bool press_close_box();
  // The rectangle of the focus ring around a control, inside the window.
  rect focus_ring(const ctrl_base* control) const;
  uint32_t focus_colorref(const ctrl_base* control) const;

  // The window's DPI / 96, read when the window is attached and when its
  // DPI changes: everything is laid out in 96-DPI units and drawn, sized
  // and hit-tested in the window's pixels.
  double scale() const { return scale_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int region_corner() const { return rgn_width_; }

 private:
  void update_hover(ctrl_base* target);
  // Window-system part of a focus change: the window focus for edits, the
  // repaint and the accessibility event.
  void focus_changed();
  // Window-system part of a scale change: the scale's record, the window's
  // size in pixels.
  void apply_scale(WindowHandle window, unsigned dpi);
  void draw_focus_ring(DcHandle dc);
  // Gives the window its corner region (window-system part).
  void apply_region(WindowHandle window);
  void update_tool_tip(WindowHandle window, ctrl_base* target, unsigned message,
                       uintptr_t wparam, intptr_t lparam);

  int width_ = 0;
  int height_ = 0;
  std::string fillcolor_ = "0,0,0";
  unsigned id_ = 0;
  bool thickframe_ = false;
  int rgn_width_ = 0;
  double scale_ = 1.0;

  std::string default_control_;
  ctrl_base* focused_ = nullptr;
  rect screen_rect_;

  ctrl_base* hovered_ = nullptr;
  bool tracking_mouse_ = false;
  std::wstring tool_tip_text_;
  bool tool_tip_enabled_ = false;
  WindowHandle tool_tip_ = nullptr;
  // Every window this tree is attached to, with the procedure it replaced:
  // the screens attach one tree to two windows that exist at once.
  std::map<WindowHandle, intptr_t> saved_procs_;
};

}  // namespace dui
