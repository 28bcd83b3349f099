#include "dui/ctrl_dialog.h"

#include <algorithm>
#include <climits>

#include "dui/platform.h"
#include "dui/skin_json.h"
#include "dui/text_style.h"

namespace dui {

bool ctrl_dialog::load(const Json::Value& value) {
  windowless_ = false;
  load_members(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "visible") {
      visible_ = read_bool(v);
    } else if (key == "w") {
      width_ = std::clamp(read_int(v), 0, 16384);
    } else if (key == "h") {
      height_ = std::clamp(read_int(v), 0, 16384);
    } else if (key == "id") {
      id_ = read_uint(v);
    } else if (key == "align") {
      align_ = read_string(v);
    } else if (key == "fillcolor") {
      fillcolor_ = read_string(v);
    } else if (key == "thickframe") {
      thickframe_ = read_bool(v);
    } else if (key == "rgn_width") {
      rgn_width_ = std::clamp(read_int(v), -1, 16384);
    } else if (key == "focuscolor") {
      focus_color_ = read_string(v);
    } else if (key == "default") {
      default_control_ = read_string(v);
    }
  });
  if (focus_color_.empty()) focus_color_ = kDefaultFocusColor;
  rect_ = rect{0, 0, width_, height_};
  return true;
}

void ctrl_dialog::layout() {
  rect_ = rect{0, 0, width_, height_};
  ctrl_base::layout();
}

bool ctrl_dialog::dispatch(unsigned message, uintptr_t wparam, intptr_t lparam,
                           ctrl_base** target) {
  *target = nullptr;
  skin_event event;
  event.top = this;
  event.message = message;
  event.wparam = wparam;
  event.lparam = lparam;
  switch (message) {
    case kMsgTimer: {
      if (wparam >= kScreenTimerFirst && wparam <= kScreenTimerLast) return false;
      // Only the records of live controls are read; any other id belongs to
      // someone else.
      if (!is_live_timer(wparam)) return false;
      ctrl_base* control = reinterpret_cast<timer_record*>(wparam)->control;
      if (!control->is_visible() || !control->windowless()) return false;
      event.target = control;
      control->on_event(event);
      return control->captures_click();
    }
    case kMsgMouseMove:
    case kMsgLButtonDown:
    case kMsgLButtonDblClk:
    case kMsgLButtonUp: {
      ctrl_base* hit = hit_test(this, event.x(), event.y());
      *target = hit;
      if (hit == this || !hit->is_visible() || !hit->windowless()) {
        if (message == kMsgMouseMove) update_hover(hit);
        return false;
      }
      event.target = hit;
      hit->on_event(event);
      if (message == kMsgMouseMove) {
        update_hover(hit);
        return false;
      }
      return hit->captures_click();
    }
    default:
      return false;
  }
}

void ctrl_dialog::update_hover(ctrl_base* target) {
  if (hovered_ == target) return;
  if (hovered_) {
    skin_event leave;
    leave.target = hovered_;
    leave.top = this;
    leave.message = kMsgMouseLeave;
    hovered_->on_event(leave);
  }
  hovered_ = target;
}

void ctrl_dialog::render(DcHandle dc, const rect& update) {
  for (child_entry& child : children_) {
    ctrl_base* c = child.control;
    if (!c->windowless()) continue;
    if (update == rect_) c->set_needs_redraw(true);
    c->paint(dc, update);
  }
  draw_focus_ring(dc);
}

namespace {

// Ring: 2 pixels wide, 2 pixels outside the control.
constexpr int kRingGap = 2;
constexpr int kRingWidth = 2;

void collect_interactive(ctrl_base* control, std::vector<ctrl_base*>* out) {
  for (const child_entry& child : control->children()) {
    if (child.control->interactive()) out->push_back(child.control);
    collect_interactive(child.control, out);
  }
}

}  // namespace

std::vector<ctrl_base*> ctrl_dialog::tab_order() {
  std::vector<ctrl_base*> order;
  collect_interactive(this, &order);
  std::stable_sort(order.begin(), order.end(), [](const ctrl_base* a, const ctrl_base* b) {
    const int ka = a->tab_index() > 0 ? a->tab_index() : INT_MAX;
    const int kb = b->tab_index() > 0 ? b->tab_index() : INT_MAX;
    return ka < kb;
  });
  return order;
}

bool ctrl_dialog::can_focus(ctrl_base* control) {
  if (!control || !control->interactive() || !control->enabled() || !control->is_visible()) {
    return false;
  }
  if (!control->windowless()) return control->window() != nullptr;
  const rect& r = control->area();
  if (r.width() <= 0 || r.height() <= 0) return false;
  const int x = r.left + r.width() / 2, y = r.top + r.height() / 2;
  return rect_.contains(x, y) && hit_test(this, x, y) == control;
}

void ctrl_dialog::set_focus(ctrl_base* control) {
  if (control == focused_) return;
  focused_ = control;
  focus_changed();
}

bool ctrl_dialog::move_focus(bool backwards) {
  const std::vector<ctrl_base*> order = tab_order();
  const int n = static_cast<int>(order.size());
  if (n == 0) return false;
  const auto at = std::find(order.begin(), order.end(), focused_);
  // From nothing, Tab starts at the first control and Shift+Tab at the last.
  int i = at == order.end() ? (backwards ? n : -1) : static_cast<int>(at - order.begin());
  for (int step = 0; step < n; ++step) {
    i = (i + (backwards ? n - 1 : 1)) % n;
    if (can_focus(order[i])) {
      set_focus(order[i]);
      return true;
    }
  }
  return false;
}

bool ctrl_dialog::press_close_box() {
  ctrl_base* close = find_descendant(this, "close");
  if (!close || !close->interactive()) return false;
  if (close->enabled() && close->is_visible()) close->activate();
  return true;
}

bool ctrl_dialog::on_key(unsigned key, bool shift) {
  constexpr unsigned kKeyTab = 0x09, kKeyReturn = 0x0D, kKeyEscape = 0x1B, kKeySpace = 0x20;
  ctrl_base* focused = can_focus(focused_) ? focused_ : nullptr;
  switch (key) {
    case kKeyTab:
      move_focus(shift);
      return true;
    case kKeyReturn: {
      if (focused && focused->windowless()) {
        focused->activate();
        return true;
      }
      ctrl_base* fallback = default_control_.empty() ? nullptr : find_descendant(this, default_control_);
      if (can_focus(fallback)) fallback->activate();
      return true;
    }
    case kKeySpace:
      if (focused && focused->windowless()) focused->activate();
      return true;
    case kKeyEscape:
      press_close_box();
      return true;
    default:
      return false;
  }
}

rect ctrl_dialog::focus_ring(const ctrl_base* control) const {
  const rect& r = control->area();
  const int grow = kRingGap + kRingWidth;
  return rect{std::max(r.left - grow, 0), std::max(r.top - grow, 0),
              std::min(r.right + grow, rect_.right), std::min(r.bottom + grow, rect_.bottom)};
}

uint32_t ctrl_dialog::focus_colorref(const ctrl_base* control) const {
  return parse_colorref(control->focus_color().empty() ? focus_color_ : control->focus_color());
}

void ctrl_dialog::draw_focus_ring(DcHandle dc) {
  if (!can_focus(focused_)) return;
  const rect ring = focus_ring(focused_);
  const uint32_t color = focus_colorref(focused_);
  platform::fill_rect(dc, rect{ring.left, ring.top, ring.right, ring.top + kRingWidth}, color);
  platform::fill_rect(dc, rect{ring.left, ring.bottom - kRingWidth, ring.right, ring.bottom}, color);
  platform::fill_rect(dc, rect{ring.left, ring.top, ring.left + kRingWidth, ring.bottom}, color);
  platform::fill_rect(dc, rect{ring.right - kRingWidth, ring.top, ring.right, ring.bottom}, color);
}

}  // namespace dui
