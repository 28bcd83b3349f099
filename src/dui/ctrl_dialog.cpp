#include "dui/ctrl_dialog.h"

#include <algorithm>

#include "dui/skin_json.h"

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
    }
  });
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
}

}  // namespace dui
