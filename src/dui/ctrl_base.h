// The control tree of a skin: every control's identity, tree links, common
// layout keys, visibility and the virtual operations through which a tree is
// loaded from skin.txt, attached to windows, laid out, painted and fed with
// mouse events.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dui/dui_types.h"

namespace dui {

class ctrl_base;

// What assistive technology is told a control is.
enum class access_role {
  none,  // decoration: not shown to assistive technology
  push_button,
  check_box,
  radio_button,
  link,
  progress_bar,
  static_text,
  grouping,
  text,  // an edit field
};

struct child_entry {
  std::string name;
  ctrl_base* control;  // owned by the parent
};

// The identity of a control's timer: the timer id given to SetTimer is the
// address of this record.
struct timer_record {
  ctrl_base* control;
  int kind;
};

// Whether a WM_TIMER id is the record of a live control (other ids are the
// screens' or the system's and are never read as records).
bool is_live_timer(uintptr_t id);

class ctrl_base {
 public:
  ctrl_base();
  virtual ~ctrl_base();
  ctrl_base(const ctrl_base&) = delete;
  ctrl_base& operator=(const ctrl_base&) = delete;

  virtual void on_event(const skin_event& event) {}
  // Whether a press on this windowless control is consumed, so the window
  // under it does not see it (and cannot start a window drag).
  virtual bool captures_click() const { return false; }
  virtual ctrl_base* owner_or_self() { return owner_ ? owner_ : this; }
  virtual const char* type_name() const = 0;
  virtual void attach();
  // Windowless controls draw themselves when flagged, then their children.
  virtual void paint(DcHandle dc, const rect& update);
  virtual bool load(const Json::Value& value);
  virtual intptr_t window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                               intptr_t lparam);
  virtual void invalidate(bool erase);
  virtual void layout();
  virtual void move_windows();
  virtual bool is_window_visible() const;
  virtual bool is_visible() const { return visible_; }
  virtual void set_visible(bool visible);
  virtual void set_hint(const std::wstring& hint) { hint_ = hint; }
  virtual std::wstring get_hint() const { return hint_; }

  // Keyboard and assistive technology. Interactive controls (buttons, check
  // boxes, radios, edits) take part in the tab order; `enabled` says whether
  // they can be used now; `activate` is what Enter or Space on the focused
  // control and a screen reader's default action do: the notice a click
  // posts. False when the control did nothing.
  virtual bool interactive() const { return false; }
  virtual bool enabled() const { return true; }
  virtual bool activate() { return false; }
  virtual bool checked() const { return false; }
  // The text the control shows (its label), empty for pictures.
  virtual std::wstring label() const { return std::wstring(); }
  // The role from "accrole" ("button", "link", "text", "group", "none"),
  // else the class's own.
  access_role role() const;
  // "accname": a string table id (digits) or a text in the skin's code
  // page; names picture buttons and pictures of text.
  const std::string& access_name() const { return accname_; }
  void set_access_name(const std::string& name) { accname_ = name; }
  // "tabindex": controls with one (> 0) come first in the tab order, in
  // ascending order, then the others in the tree's order.
  int tab_index() const { return tab_index_; }
  // "focuscolor": the focus ring's colour around this control ("r,g,b";
  // empty: the window's).
  const std::string& focus_color() const { return focus_color_; }

  const std::string& name() const { return name_; }
  ctrl_base* parent() const { return parent_; }
  ctrl_base* owner() const { return owner_; }
  const std::vector<child_entry>& children() const { return children_; }
  const rect& area() const { return rect_; }
  WindowHandle window() const { return window_; }
  ModuleHandle module() const { return module_; }
  bool windowless() const { return windowless_; }
  bool needs_redraw() const { return redraw_; }
  void set_needs_redraw(bool redraw) { redraw_ = redraw; }
  bool invalidate_parent() const { return invalidate_parent_; }
  const std::string& align() const { return align_; }

  void set_tree_links(ctrl_base* parent, ctrl_base* owner, const std::string& name);
  void append_child(const std::string& name, ctrl_base* control);
  ctrl_base* find_child(const std::string& name) const;
  // The window that shows this control: a dialog's own window, else the
  // nearest window up the parent chain, else the owner's window.
  WindowHandle hosting_window() const;

 protected:
  // The common load: sets the windowless flag, reads the common keys and
  // creates the children through the factory. Subclasses read their own
  // keys first, then call this.
  bool load_common(const Json::Value& value);
  using key_reader = std::function<void(const std::string& key, const Json::Value& value)>;
  // Visits the members of an object in name order: object members become
  // children through the factory, every other member goes to the reader.
  void load_members(const Json::Value& value, const key_reader& read_key);
  // The control's rectangle from its keys and its parent's rectangle.
  rect compute_own_rect() const;
  // Draws the control itself (windowless controls); nothing in the base.
  virtual void draw(DcHandle dc) {}
  virtual access_role default_role() const { return access_role::none; }
  void paint_children(DcHandle dc, const rect& update);

  std::vector<child_entry> children_;
  WindowHandle window_ = nullptr;
  ModuleHandle module_ = nullptr;
  std::string name_;
  ctrl_base* parent_ = nullptr;
  ctrl_base* owner_ = nullptr;
  rect rect_;
  int x_ = 0, y_ = 0, w_ = 0, h_ = 0, p_ = 0, xs_ = 0, ys_ = 0;
  double z_ = 1.0;
  std::string align_;
  std::wstring hint_;
  bool visible_ = true;
  bool invalidate_parent_ = false;
  bool windowless_ = false;
  bool redraw_ = true;
  timer_record timer_;
  std::string accname_;
  std::string accrole_;
  int tab_index_ = 0;
  std::string focus_color_;
};

// Calls the reader for every member of an object value that is not itself
// an object (a control's own keys, read before the common load).
void for_each_key(const Json::Value& value,
                  const std::function<void(const std::string&, const Json::Value&)>& read_key);

// The process-wide map from a window-backed control's window to the control:
// the top-level window routes its edits' colour messages through it.
void register_control_window(WindowHandle window, ctrl_base* control);
ctrl_base* control_of_window(WindowHandle window);
void clear_control_windows();

// Marks the control (and its parent when invalidateparent is set) for
// redraw and invalidates its area, or the given one, in its hosting window.
void invalidate_control(ctrl_base* control, const rect* area = nullptr);

// Pre-order depth-first search below the control, in child order; the
// control itself is not compared.
ctrl_base* find_descendant(ctrl_base* control, const std::string& name);

// The deepest visible windowless control under the point, starting at the
// top-level control (which is the result when no child matches).
ctrl_base* hit_test(ctrl_base* top, int x, int y);

// The factory. Creates (or, for a direct child of that name and type, reuses)
// the control for one object member and appends new controls to the parent.
// Unknown or missing types create nothing.
ctrl_base* create_child_control(ctrl_base* parent, const std::string& name,
                                const Json::Value& value);

using control_creator = ctrl_base* (*)();
// Adds or replaces the class created for a "type" text.
void register_control_type(const std::string& type, control_creator creator);

}  // namespace dui
