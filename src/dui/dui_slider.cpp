#include "dui/dui_slider.h"

#include "dui/platform.h"
#include "dui/skin_json.h"
#include "dui/three_part.h"

namespace dui {

dui_ctrl_slider::~dui_ctrl_slider() {
  if (timer_window_) platform::kill_timer(timer_window_, reinterpret_cast<uintptr_t>(&timer_));
}

bool dui_ctrl_slider::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "id") {
      id_ = read_uint(v);
    } else if (key == "bg_pic") {
      background_.set_file(read_wstring(v));
    } else if (key == "bg_pic_p") {
      background_extra_ = read_int(v);
    } else if (key == "fst_pic") {
      fill_image_.set_file(read_wstring(v));
    } else if (key == "fst_pic_p") {
      fill_extra_ = read_int(v);
    } else if (key == "thumb_pic") {
      thumb_image_.set_file(read_wstring(v));
    } else if (key == "bg_pic_midpart_width") {
      middle_width_ = read_uint(v);
    } else if (key == "thumb_width") {
      thumb_width_ = read_uint(v);
    } else if (key == "thumb_height") {
      thumb_height_ = read_uint(v);
    } else if (key == "thumb_step") {
      thumb_step_ = read_uint(v);
    } else if (key == "thumb_timer") {
      thumb_period_ = read_uint(v);
    }
  });
  return load_common(value);
}

void dui_ctrl_slider::reset_rects() {
  rect_ = compute_own_rect();
  fill_ = rect{rect_.left, rect_.top, rect_.left, rect_.bottom};
  thumb_ = rect{rect_.left, rect_.top, rect_.left + static_cast<int>(thumb_width_),
                rect_.top + static_cast<int>(thumb_height_)};
}

void dui_ctrl_slider::attach() {
  reset_rects();
  if (thumb_period_ != 0 && thumb_step_ != 0) {
    timer_.kind = 1;
    timer_window_ = hosting_window();
    platform::set_timer(timer_window_, reinterpret_cast<uintptr_t>(&timer_), thumb_period_);
  }
  ctrl_base::attach();
}

void dui_ctrl_slider::layout() {
  reset_rects();
  ctrl_base::layout();
}

void dui_ctrl_slider::set_position(double fraction) {
  if (!(fraction > 0 && fraction <= 1)) return;
  fill_.right = static_cast<int>(fraction * rect_.width() + fill_.left);
  if (fill_.right > rect_.right) fill_.right = fill_.left;
  invalidate_control(this);
  position_ = fraction;
  // Screen readers hear of the value a few times a second at most, and
  // always of the full bar.
  const double now = platform::counter_ms();
  if (now - last_value_event_ms_ >= kValueEventGapMs || fraction == 1) {
    last_value_event_ms_ = now;
    platform::notify_access(this, platform::access_event::value_change);
  }
}

void dui_ctrl_slider::on_event(const skin_event& event) {
  if (event.message != kMsgTimer) return;
  // The thumb moves without a repaint; it shows in its new place the next
  // time the bar is drawn.
  thumb_.left += static_cast<int>(thumb_step_);
  thumb_.right += static_cast<int>(thumb_step_);
  if (thumb_.right > fill_.right) {
    thumb_.left = rect_.left;
    thumb_.right = rect_.left + static_cast<int>(thumb_width_);
  }
}

int dui_ctrl_slider::cap_width() {
  return (background_.width() - static_cast<int>(middle_width_)) >> 1;
}

void dui_ctrl_slider::draw(DcHandle dc) {
  const int cap = cap_width();
  if (void* image = background_.get()) {
    three_part_options o;
    o.left_cap = o.right_cap = cap;
    o.extra_middle = background_extra_;
    draw_three_part(dc, image, background_.width(), background_.height(), rect_, o);
  }
  if (fill_.right > fill_.left) {
    if (void* image = fill_image_.get()) {
      three_part_options o;
      o.left_cap = o.right_cap = cap;
      o.extra_middle = fill_extra_;
      // A full bar shows both caps; otherwise the fill's end is cut square.
      o.right = (rect_.right - fill_.right) + (fill_.left - rect_.left) < 3;
      draw_three_part(dc, image, fill_image_.width(), fill_image_.height(), fill_, o);
    }
    if (fill_.width() > thumb_.width()) {
      if (void* image = thumb_image_.get()) {
        platform::draw_image(dc, image, rect{0, 0, thumb_image_.width(), thumb_image_.height()},
                             thumb_);
      }
    }
  }
}

}  // namespace dui
