#include "dui/dui_panel.h"

#include <algorithm>

#include "dui/skin_json.h"
#include "dui/text_codec.h"

namespace dui {

bool dui_ctrl_panel::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "fillcolor") {
      fillcolor_ = read_string(v);
    } else if (key == "mid_pic") {
      pictures_.push_back(read_wstring(v));
    } else if (key == "left_pic") {
      left_cap_.set_file(read_wstring(v));
    } else if (key == "right_pic") {
      right_cap_.set_file(read_wstring(v));
    } else if (key == "txt") {
      text_ = read_wstring(v);
    } else {
      read_text_key(key, v);
    }
  });
  return load_common(value);
}

void dui_ctrl_panel::attach() {
  rect_ = compute_own_rect();
  if (!pictures_.empty() && current_.empty()) current_.set_file(pictures_.front());
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

void dui_ctrl_panel::draw(DcHandle dc) {
  if (!fillcolor_.empty()) platform::fill_rect(dc, rect_, parse_colorref(fillcolor_));
  int left = rect_.left;
  int right = rect_.right;
  if (void* cap = left_cap_.get()) {
    const int w = left_cap_.width(), h = left_cap_.height();
    platform::draw_image(dc, cap, rect{0, 0, w, h}, rect{left, rect_.top, left + w, rect_.top + h});
    left += w;
  }
  if (void* cap = right_cap_.get()) {
    const int w = right_cap_.width(), h = right_cap_.height();
    platform::draw_image(dc, cap, rect{0, 0, w, h}, rect{right - w, rect_.top, right, rect_.top + h});
    right -= w;
  }
  if (void* image = current_.get()) {
    // A picture larger than the panel is cropped at its source offset, a
    // smaller one is stretched over the span between the caps.
    const int w = std::min(rect_.width(), current_.width());
    const int h = std::min(rect_.height(), current_.height());
    if (w > 0 && h > 0 && right > left) {
      platform::draw_image(dc, image, rect{xs_, ys_, xs_ + w, ys_ + h},
                           rect{left, rect_.top, right, rect_.bottom});
    }
  }
  draw_text(dc, false);
}

}  // namespace dui
