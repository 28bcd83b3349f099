#include "dui/dui_button.h"

#include <algorithm>

#include "dui/platform.h"
#include "dui/skin_json.h"
#include "dui/text_codec.h"

namespace dui {

int button_frame(int mode, int state, int frames_in_strip) {
  int frame;
  switch (mode) {
    case 2:
      frame = state == kButtonNormal ? 0 : 1;
      break;
    case 3:
    case 4:
      frame = state;
      break;
    case 5:
      frame = state == kButtonNormal ? 0 : state + 2;
      break;
    default:
      return -1;
  }
  return std::clamp(frame, 0, std::max(frames_in_strip - 1, 0));
}

bool dui_ctrl_button::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "state") {
      mode_ = read_int(v);
    } else if (key == "btn_pic") {
      strip_.set_file(read_wstring(v));
    } else if (key == "fillcolor") {
      fillcolor_ = read_string(v);
    } else if (key == "id") {
      id_ = read_int(v);
    } else if (key == "txt") {
      text_ = read_wstring(v);
    } else if (key == "cursor") {
      cursor_ = read_int(v);
    } else if (key == "enable") {
      state_ = read_bool(v) ? kButtonNormal : kButtonDisabled;
    } else {
      read_text_key(key, v);
    }
  });
  return load_common(value);
}

void dui_ctrl_button::attach() {
  rect_ = compute_own_rect();
  ctrl_base::attach();
}

void dui_ctrl_button::layout() {
  rect_ = compute_own_rect();
  ctrl_base::layout();
}

void dui_ctrl_button::on_event(const skin_event& event) {
  if (state_ == kButtonDisabled) return;
  if (cursor_ != 0) platform::set_system_cursor(cursor_);
  switch (event.message) {
    case kMsgMouseMove:
      if (state_ == kButtonHover) return;
      state_ = platform::is_left_button_down() ? kButtonPressed : kButtonHover;
      break;
    case kMsgLButtonDown:
    case kMsgLButtonDblClk:
      state_ = kButtonPressed;
      break;
    case kMsgLButtonUp:
      state_ = kButtonNormal;
      platform::post_message(owner_or_self()->window(), SKIN_MSG_CLICK, 0,
                             reinterpret_cast<intptr_t>(name_.c_str()));
      break;
    case kMsgMouseLeave:
      state_ = kButtonNormal;
      break;
    default:
      return;
  }
  invalidate_control(this);
}

bool dui_ctrl_button::activate() {
  if (state_ == kButtonDisabled) return false;
  platform::post_message(owner_or_self()->window(), SKIN_MSG_CLICK, 0,
                         reinterpret_cast<intptr_t>(name_.c_str()));
  return true;
}

void dui_ctrl_button::set_disabled(bool disabled) {
  state_ = disabled ? kButtonDisabled : kButtonNormal;
  invalidate_control(this);
}

void dui_ctrl_button::set_image(const std::string& file, int mode) {
  strip_.set_file(utf8_to_wide(file));
  mode_ = mode;
  invalidate_control(this);
}

void dui_ctrl_button::draw(DcHandle dc) {
  if (void* image = strip_.get()) {
    const int step = w_ + p_;
    const int frames = step > 0 ? std::max((strip_.width() - xs_ + p_) / step, 1) : 1;
    const int frame = button_frame(mode_, state_, frames);
    const int sx = frame < 0 ? 0 : xs_ + step * frame;
    platform::draw_image(dc, image, rect{sx, 0, sx + w_, h_}, rect_);
  } else if (!fillcolor_.empty()) {
    platform::fill_rect(dc, rect_, parse_colorref(fillcolor_));
  }
  draw_text(dc, state_ == kButtonDisabled);
}

}  // namespace dui
