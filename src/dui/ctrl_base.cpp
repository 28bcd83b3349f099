#include "dui/ctrl_base.h"

#include <algorithm>
#include <map>
#include <set>

#include "dui/layout.h"
#include "dui/platform.h"
#include "dui/skin_json.h"

namespace dui {
namespace {

std::set<uintptr_t>& live_timers() {
  static std::set<uintptr_t> timers;
  return timers;
}

// Layout keys are clamped so that the rectangle arithmetic cannot overflow
// whatever a skin writes.
int read_layout_int(const Json::Value& value) {
  return std::clamp(read_int(value), -1000000, 1000000);
}

std::map<WindowHandle, ctrl_base*>& control_windows() {
  static std::map<WindowHandle, ctrl_base*> windows;
  return windows;
}

}  // namespace

void register_control_window(WindowHandle window, ctrl_base* control) {
  control_windows()[window] = control;
}

ctrl_base* control_of_window(WindowHandle window) {
  const auto found = control_windows().find(window);
  return found == control_windows().end() ? nullptr : found->second;
}

void clear_control_windows() { control_windows().clear(); }

bool is_live_timer(uintptr_t id) { return live_timers().count(id) != 0; }

ctrl_base::ctrl_base() : timer_{this, 0} {
  live_timers().insert(reinterpret_cast<uintptr_t>(&timer_));
}

ctrl_base::~ctrl_base() {
  live_timers().erase(reinterpret_cast<uintptr_t>(&timer_));
  if (window_ && control_of_window(window_) == this) control_windows().erase(window_);
  for (child_entry& child : children_) delete child.control;
}

void ctrl_base::set_tree_links(ctrl_base* parent, ctrl_base* owner, const std::string& name) {
  parent_ = parent;
  owner_ = owner;
  name_ = name;
}

void ctrl_base::append_child(const std::string& name, ctrl_base* control) {
  children_.push_back(child_entry{name, control});
}

ctrl_base* ctrl_base::find_child(const std::string& name) const {
  for (const child_entry& child : children_) {
    if (child.name == name) return child.control;
  }
  return nullptr;
}

WindowHandle ctrl_base::hosting_window() const {
  if (std::string(type_name()) == "dialog") return window_;
  for (const ctrl_base* c = parent_; c; c = c->parent_) {
    if (c->window_) return c->window_;
  }
  return owner_ ? owner_->window_ : nullptr;
}

bool ctrl_base::load(const Json::Value& value) { return load_common(value); }

bool ctrl_base::load_common(const Json::Value& value) {
  if (!value.isNull() && !value.isObject()) return false;
  windowless_ = std::string(type_name()).find("dui_") != std::string::npos;
  load_members(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "x") {
      x_ = read_layout_int(v);
    } else if (key == "y") {
      y_ = read_layout_int(v);
    } else if (key == "w") {
      w_ = read_layout_int(v);
    } else if (key == "h") {
      h_ = read_layout_int(v);
    } else if (key == "xs") {
      xs_ = read_layout_int(v);
    } else if (key == "ys") {
      ys_ = read_layout_int(v);
    } else if (key == "p") {
      p_ = read_layout_int(v);
    } else if (key == "z") {
      z_ = read_double(v);
    } else if (key == "invalidateparent") {
      invalidate_parent_ = read_bool(v);
    } else if (key == "visible") {
      visible_ = read_bool(v);
    } else if (key == "align") {
      align_ = read_string(v);
    } else if (key == "hint") {
      hint_ = read_wstring(v);
    } else if (key == "accname") {
      accname_ = read_string(v);
    } else if (key == "accrole") {
      accrole_ = read_string(v);
    } else if (key == "focuscolor") {
      focus_color_ = read_string(v);
    } else if (key == "tabindex") {
      tab_index_ = std::clamp(read_int(v), 0, 1000000);
    }
  });
  return true;
}

access_role ctrl_base::role() const {
  static const struct {
    const char* text;
    access_role role;
  } kRoles[] = {{"button", access_role::push_button}, {"link", access_role::link},
                {"text", access_role::static_text},  {"group", access_role::grouping},
                {"none", access_role::none}};
  for (const auto& r : kRoles) {
    if (accrole_ == r.text) return r.role;
  }
  return default_role();
}

void ctrl_base::load_members(const Json::Value& value, const key_reader& read_key) {
  if (!value.isObject()) return;
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (it->isObject()) {
      create_child_control(this, it.name(), *it);
    } else {
      read_key(it.name(), *it);
    }
  }
}

void for_each_key(const Json::Value& value,
                  const std::function<void(const std::string&, const Json::Value&)>& read_key) {
  if (!value.isObject()) return;
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (!it->isObject()) read_key(it.name(), *it);
  }
}

rect ctrl_base::compute_own_rect() const {
  if (!parent_) return rect_;
  const parent_kind kind = parent_->windowless_ ? parent_kind::windowless : parent_kind::window;
  return compute_rect(x_, y_, w_, h_, align_, parent_->rect_, kind);
}

void ctrl_base::attach() {
  for (child_entry& child : children_) child.control->attach();
}

void ctrl_base::layout() {
  for (child_entry& child : children_) child.control->layout();
}

void ctrl_base::paint(DcHandle dc, const rect& update) {
  if (!windowless_ || !visible_) return;
  if (redraw_) {
    draw(dc);
    redraw_ = false;
    // Children lie on top of this control: once it is drawn again they must
    // be drawn again too, or a full repaint would cover them.
    for (child_entry& child : children_) child.control->redraw_ = true;
  }
  paint_children(dc, update);
}

void ctrl_base::paint_children(DcHandle dc, const rect& update) {
  for (child_entry& child : children_) {
    if (child.control->windowless_) child.control->paint(dc, update);
  }
}

void ctrl_base::invalidate(bool erase) {
  platform::invalidate_rect(window_ ? window_ : hosting_window(), nullptr, erase);
}

void ctrl_base::move_windows() {
  for (child_entry& child : children_) {
    ctrl_base* c = child.control;
    layout();
    if (c->window_) platform::move_window(c->window_, c->rect_);
    if (windowless_) platform::invalidate_rect(hosting_window(), nullptr, false);
  }
  for (child_entry& child : children_) child.control->move_windows();
}

bool ctrl_base::is_window_visible() const {
  return window_ && platform::is_window_visible(window_);
}

void ctrl_base::set_visible(bool visible) {
  visible_ = visible;
  if (windowless_) {
    for (child_entry& child : children_) {
      if (child.control->windowless_) child.control->set_visible(visible);
    }
  } else if (window_) {
    platform::show_window(window_, visible);
  }
}

void invalidate_control(ctrl_base* control, const rect* area) {
  if (control->parent() && control->invalidate_parent()) control->parent()->set_needs_redraw(true);
  control->set_needs_redraw(true);
  platform::invalidate_rect(control->hosting_window(), area ? area : &control->area(), false);
}

ctrl_base* find_descendant(ctrl_base* control, const std::string& name) {
  if (!control) return nullptr;
  for (const child_entry& child : control->children()) {
    if (child.name == name) return child.control;
    if (ctrl_base* found = find_descendant(child.control, name)) return found;
  }
  return nullptr;
}

ctrl_base* hit_test(ctrl_base* top, int x, int y) {
  ctrl_base* current = top;
  for (;;) {
    ctrl_base* taken = nullptr;
    for (const child_entry& child : current->children()) {
      ctrl_base* c = child.control;
      if (c->windowless() && c->is_visible() && c->area().contains(x, y)) taken = c;
    }
    if (!taken) return current;
    current = taken;
  }
}

}  // namespace dui
