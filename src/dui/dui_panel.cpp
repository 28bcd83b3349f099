#include "dui/dui_panel.h"

#include <algorithm>

#include "dui/easing.h"
#include "dui/skin_json.h"
#include "dui/text_codec.h"
#include "dui/three_part.h"

namespace dui {
dui_ctrl_panel::~dui_ctrl_panel() {
  if (timer_window_) platform::kill_timer(timer_window_, reinterpret_cast<uintptr_t>(&timer_));
}

bool dui_ctrl_panel::load(const Json::Value& value) {
  pictures_.clear();
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "fillcolor") {
      fillcolor_ = read_string(v);
    } else if (key == "mid_pic") {
      // One object member cannot repeat: a list of pictures to switch
      // through is written as an array.
      if (v.isArray()) {
        for (const Json::Value& item : v) pictures_.push_back(read_wstring(item));
      } else {
        pictures_.push_back(read_wstring(v));
      }
    } else if (key == "left_pic") {
      left_cap_.set_file(read_wstring(v));
    } else if (key == "right_pic") {
      right_cap_.set_file(read_wstring(v));
    } else if (key == "mid_pic_mid_width") {
      mid_width_ = read_uint(v);
    } else if (key == "mid_pic_p") {
      mid_extra_ = read_uint(v);
    } else if (key == "timer_gap") {
      timer_gap_ = read_uint(v);
    } else if (key == "timer_fifo") {
      timer_fifo_ = read_uint(v);
    } else if (key == "switch_type") {
      switch_type_ = read_uint(v);
    } else if (key == "txt") {
      text_ = read_wstring(v);
    } else if (key == "transparent") {
      transparent_ = read_bool(v);
    } else if (key == "animation") {
      animation_ = read_bool(v);
    } else if (key == "transition") {
      transition_ = read_string(v);
    } else if (key == "animation-time") {
      animation_time_ = read_uint(v);
    } else if (key == "animation-degree") {
      animation_degree_ = read_uint(v);
    } else {
      read_text_key(key, v);
    }
  });
  return load_common(value);
}

void dui_ctrl_panel::attach() {
  rect_ = compute_own_rect();
  if (!pictures_.empty() && current_.empty()) current_.set_file(pictures_.front());
  // Pictures switch only with a gap, a fade period (the fade step is its
  // inverse) and something to switch to.
  if (timer_gap_ != 0 && timer_fifo_ != 0 && pictures_.size() > 1) {
    fade_step_ = 1.0f / static_cast<float>(timer_fifo_);
    fade_level_ = 0;
    next_index_ = 1;
    timer_window_ = hosting_window();
    start_timer(kPanelShowing, timer_gap_);
  }
  ctrl_base::attach();
}

void dui_ctrl_panel::layout() {
  rect_ = compute_own_rect();
  ctrl_base::layout();
}

void dui_ctrl_panel::set_image(const std::string& file) {
  current_.set_file(utf8_to_wide(file));
  invalidate_control(this);
}

bool dui_ctrl_panel::start_timer(int kind, unsigned period) {
  timer_.kind = kind;
  return platform::set_timer(timer_window_, reinterpret_cast<uintptr_t>(&timer_), period);
}

void dui_ctrl_panel::advance_picture() {
  current_.set_file(pictures_[next_index_ % pictures_.size()]);
  next_index_ = (next_index_ + 1) % pictures_.size();
}

// Switching: the picture stays for the gap; then, with "switch_type" 0, it
// fades out, the next one becomes current and fades in; with 1 the next one
// becomes current at once and fades in.
void dui_ctrl_panel::on_event(const skin_event& event) {
  if (event.message != kMsgTimer) return;
  if (timer_.kind == kPanelSliding) {
    slide_step();
    return;
  }
  if (fade_step_ <= 0 || pictures_.empty()) return;
  switch (timer_.kind) {
    case kPanelShowing:
      if (switch_type_ == 0) {
        fade_level_ = 1;
        start_timer(kPanelFadingOut, timer_fifo_);
      } else {
        advance_picture();
        fade_level_ = fade_step_;
        start_timer(kPanelFadingIn, timer_fifo_);
      }
      break;
    case kPanelFadingIn:
      fade_level_ += fade_step_;
      if (fade_level_ >= 1) {
        fade_level_ = 0;
        start_timer(kPanelShowing, timer_gap_);
      }
      break;
    case kPanelFadingOut:
      fade_level_ -= fade_step_;
      if (fade_level_ <= 0) {
        advance_picture();
        fade_level_ = fade_step_;
        start_timer(kPanelFadingIn, timer_fifo_);
      }
      break;
    default:
      return;
  }
  invalidate_control(this);
}

unsigned dui_ctrl_panel::step_period() const {
  return animation_degree_ == 0 ? 1 : std::max(animation_time_ / animation_degree_, 1u);
}

void dui_ctrl_panel::apply_rect(const rect& r) {
  // x and y are kept relative to a windowless parent, so that layout puts
  // the panel exactly on the rectangle.
  const bool inside_windowless = parent_ && parent_->windowless();
  x_ = r.left - (inside_windowless ? parent_->area().left : 0);
  y_ = r.top - (inside_windowless ? parent_->area().top : 0);
  w_ = r.width();
  h_ = r.height();
  rect_ = r;
  layout();
}

void dui_ctrl_panel::set_fill_color(const std::string& color) {
  fillcolor_ = color;
  invalidate_control(this);
}

void dui_ctrl_panel::set_rect(int left, int top, int right, int bottom) {
  const rect target{left, top, right, bottom};
  if (!animation_) {
    apply_rect(target);
    invalidate(false);
    return;
  }
  if (animation_time_ == 0 || animation_degree_ == 0) return;
  slide_target_ = target;
  slide_start_ = rect_;
  // A running slide carries on from where it is towards the new target.
  remaining_ = static_cast<int32_t>(std::min(animation_degree_, kMaxSlideSteps));
  if (timer_.kind == kPanelSliding && timer_window_) return;
  timer_window_ = hosting_window();
  if (!start_timer(kPanelSliding, step_period())) finish_slide();
}

void dui_ctrl_panel::finish_slide() {
  remaining_ = 0;
  apply_rect(slide_target_);
  invalidate(false);
  stop_slide_timer();
}

void dui_ctrl_panel::stop_slide_timer() {
  if (timer_.kind != kPanelSliding) return;
  // The picture switching, if the panel has any, goes on where it was.
  if (fade_step_ > 0) {
    fade_level_ = 0;
    start_timer(kPanelShowing, timer_gap_);
  } else {
    platform::kill_timer(timer_window_, reinterpret_cast<uintptr_t>(&timer_));
    timer_.kind = kPanelShowing;
  }
}

void dui_ctrl_panel::slide_step() {
  if (remaining_ <= 0) {
    stop_slide_timer();
    return;
  }
  const int32_t remaining = --remaining_;
  // t counts down with b = 1, c = -1: the curve is read backwards, so
  // "bounce-out" lands with its bounces and ends exactly on the target.
  const auto v = static_cast<float>(
      get_easing(transition_)(remaining, 1.0, -1.0, static_cast<double>(animation_degree_)));
  const auto edge = [v](int from, int to) { return static_cast<int>((to - from) * v + from); };
  if (remaining == 0) {
    // The last step lands on the target whatever the curve's rounding.
    finish_slide();
    return;
  }
  apply_rect(rect{edge(slide_start_.left, slide_target_.left), edge(slide_start_.top, slide_target_.top),
                  edge(slide_start_.right, slide_target_.right),
                  edge(slide_start_.bottom, slide_target_.bottom)});
  invalidate(false);
}

void dui_ctrl_panel::draw_picture(DcHandle dc, int left, int right) {
  void* image = current_.get();
  if (!image) return;
  // A picture larger than the panel is cropped at its source offset, a
  // smaller one is stretched over the span between the caps.
  const int w = std::min(rect_.width(), current_.width());
  const int h = std::min(rect_.height(), current_.height());
  if (w <= 0 || h <= 0 || right <= left) return;
  const rect source{xs_, ys_, xs_ + w, ys_ + h};
  const rect span{left, rect_.top, right, rect_.bottom};
  if (fade_level_ > 0) {
    platform::draw_image_faded(dc, image, source, span, std::clamp(fade_level_, 0.02f, 1.0f));
  } else {
    platform::draw_image(dc, image, source, span);
  }
}

void dui_ctrl_panel::draw(DcHandle dc) {
  // A panel that fades its pictures out needs its background redrawn.
  if (switch_type_ == 0 && fade_step_ > 0) invalidate_parent_ = true;
  if (!fillcolor_.empty()) platform::fill_rect(dc, rect_, parse_colorref(fillcolor_));
  if (mid_width_ != 0 && current_.get()) {
    three_part_options o;
    o.left_cap = o.right_cap = (current_.width() - static_cast<int>(mid_width_)) / 2;
    o.extra_middle = static_cast<int>(mid_extra_);
    draw_three_part(dc, current_.get(), current_.width(), current_.height(), rect_, o);
  } else {
    // Caps at natural size, cut to the panel.
    int left = rect_.left;
    int right = rect_.right;
    if (void* cap = left_cap_.get()) {
      const int w = std::min(left_cap_.width(), rect_.width()), h = left_cap_.height();
      platform::draw_image(dc, cap, rect{0, 0, w, h}, rect{left, rect_.top, left + w, rect_.top + h});
      left += w;
    }
    if (void* cap = right_cap_.get()) {
      const int w = std::min(right_cap_.width(), right - left), h = right_cap_.height();
      const int iw = right_cap_.width();
      if (w > 0) {
        platform::draw_image(dc, cap, rect{iw - w, 0, iw, h},
                             rect{right - w, rect_.top, right, rect_.top + h});
        right -= w;
      }
    }
    draw_picture(dc, left, right);
  }
  draw_text(dc, false);
}

}  // namespace dui
