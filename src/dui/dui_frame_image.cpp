#include "dui/dui_frame_image.h"

#include "dui/easing.h"
#include "dui/platform.h"
#include "dui/skin_json.h"

namespace dui {

void frame_cycle::tick() {
  if (frame_count <= 0) return;
  if (!smooth) {
    frame = (frame + 1) % frame_count;
    return;
  }
  const easing_function ease = get_easing(transition);
  const bool fade = type == frame_transition::fade;
  const int cycle = fade ? 2 * trans_time + show_time : trans_time + show_time;
  if (cycle <= 0 || period < 0) return;
  const int next = position + period;
  const bool wrapped = next >= cycle;
  position = next % cycle;
  if (wrapped) {
    frame = type == frame_transition::slide_left ? (frame + frame_count - 1) % frame_count
                                                 : (frame + 1) % frame_count;
  }
  if (position <= trans_time) {
    level = static_cast<float>(ease(position, 0, 1, trans_time));
  } else if (position <= trans_time + show_time) {
    // A frame shown still is shown whole, whatever the last transition
    // tick reached.
    level = 1.0f;
  } else {
    level = static_cast<float>(1 - ease(position - trans_time - show_time, 0, 1, trans_time));
  }
}

dui_ctrl_frame_circle_image::~dui_ctrl_frame_circle_image() {
  if (timer_window_) platform::kill_timer(timer_window_, reinterpret_cast<uintptr_t>(&timer_));
}

bool dui_ctrl_frame_circle_image::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "img_path") {
      strip_.set_file(read_wstring(v));
    } else if (key == "period") {
      cycle_.period = read_int(v);
    } else if (key == "sub_width") {
      sub_width_ = read_int(v);
    } else if (key == "frame_count") {
      cycle_.frame_count = read_int(v);
    } else if (key == "smooth") {
      cycle_.smooth = read_bool(v);
    } else if (key == "trans_time") {
      cycle_.trans_time = read_int(v);
    } else if (key == "show_time") {
      cycle_.show_time = read_int(v);
    } else if (key == "transition") {
      cycle_.transition = read_string(v);
    } else if (key == "animation_type") {
      const std::string type = read_string(v);
      cycle_.type = type == "slide-left"    ? frame_transition::slide_left
                    : type == "slide-right" ? frame_transition::slide_right
                                            : frame_transition::fade;
    }
  });
  return load_common(value);
}

void dui_ctrl_frame_circle_image::attach() {
  rect_ = compute_own_rect();
  if (cycle_.smooth) start_ms_ = platform::counter_ms();
  if (cycle_.period > 0) {
    timer_.kind = 0;
    timer_window_ = hosting_window();
    platform::set_timer(timer_window_, reinterpret_cast<uintptr_t>(&timer_),
                        static_cast<unsigned>(cycle_.period));
  }
  ctrl_base::attach();
}

void dui_ctrl_frame_circle_image::layout() {
  rect_ = compute_own_rect();
  ctrl_base::layout();
}

void dui_ctrl_frame_circle_image::on_event(const skin_event& event) {
  if (event.message != kMsgTimer || !visible_) return;
  cycle_.tick();
  invalidate_control(this);
}

void dui_ctrl_frame_circle_image::paint(DcHandle dc, const rect&) {
  if (!visible_ || !redraw_) return;
  redraw_ = false;
  void* image = strip_.get();
  if (!image || sub_width_ <= 0) return;
  const int h = strip_.height();
  const auto frame_source = [&](int index) {
    return rect{index * sub_width_, 0, (index + 1) * sub_width_, h};
  };
  if (!cycle_.smooth || cycle_.type == frame_transition::fade) {
    const float level = cycle_.smooth ? cycle_.level : 1.0f;
    platform::draw_image_faded(dc, image, frame_source(cycle_.frame), rect_, level);
    return;
  }
  // Sliding: the frame the cycle moves to comes in from the right
  // ("slide-right") or the left ("slide-left") as the current one leaves;
  // the split moves with the level.
  const int width = rect_.width();
  if (width <= 0) return;
  const int split = static_cast<int>(cycle_.level * static_cast<float>(width));
  const rect current = frame_source(cycle_.frame);
  const rect next = frame_source(cycle_.neighbour());
  const auto columns = [&](const rect& src, int from, int to) {
    return rect{src.left + from * sub_width_ / width, 0, src.left + to * sub_width_ / width, h};
  };
  const bool from_right = cycle_.type == frame_transition::slide_right;
  const rect& left_frame = from_right ? current : next;
  const rect& right_frame = from_right ? next : current;
  const int cut = from_right ? width - split : split;  // where the two meet
  if (cut > 0) {
    platform::draw_image(dc, image, columns(left_frame, width - cut, width),
                         rect{rect_.left, rect_.top, rect_.left + cut, rect_.bottom});
  }
  if (cut < width) {
    platform::draw_image(dc, image, columns(right_frame, 0, width - cut),
                         rect{rect_.left + cut, rect_.top, rect_.right, rect_.bottom});
  }
}

}  // namespace dui
