#include "dui/dui_check.h"

#include <map>

#include "dui/platform.h"
#include "dui/skin_json.h"
#include "dui/text_codec.h"

namespace dui {
namespace {

// Draws frame `frame` of a box strip at the control's top-left corner; with
// no frame size given, the whole image at natural size.
void draw_box(DcHandle dc, skin_image& box, int frame, int w, int h, int gap, const rect& area) {
  void* image = box.get();
  if (!image) return;
  const int sx = frame * (w + gap);
  if (w == 0 && h == 0 && sx == 0) {
    const int iw = box.width(), ih = box.height();
    platform::draw_image(dc, image, rect{0, 0, iw, ih},
                         rect{area.left, area.top, area.left + iw, area.top + ih});
    return;
  }
  platform::draw_image(dc, image, rect{sx, 0, sx + w, h},
                       rect{area.left, area.top, area.left + w, area.top + h});
}

std::map<int, dui_ctrl_radio*>& radio_groups() {
  static std::map<int, dui_ctrl_radio*> groups;
  return groups;
}

}  // namespace

bool dui_ctrl_check::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "id") {
      id_ = read_uint(v);
    } else if (key == "img") {
      box_.set_file(read_wstring(v));
    } else if (key == "txt") {
      text_ = read_wstring(v);
    } else if (key == "checked") {
      checked_ = read_bool(v);
    } else if (key == "imgw") {
      box_width_ = read_int(v);
    } else if (key == "imgh") {
      box_height_ = read_int(v);
    } else if (key == "enable") {
      enabled_ = read_bool(v);
    } else {
      read_text_key(key, v);
    }
  });
  return load_common(value);
}

void dui_ctrl_check::attach() {
  rect_ = compute_own_rect();
  ctrl_base::attach();
}

void dui_ctrl_check::layout() {
  rect_ = compute_own_rect();
  ctrl_base::layout();
}

void dui_ctrl_check::on_event(const skin_event& event) {
  if (!enabled_) return;
  switch (event.message) {
    case kMsgMouseMove:
      if (hovered_) return;
      hovered_ = true;
      invalidate_control(this);
      break;
    case kMsgLButtonUp:
      activate();
      break;
    case kMsgMouseLeave:
      hovered_ = false;
      invalidate_control(this);
      break;
    default:
      break;
  }
}

bool dui_ctrl_check::activate() {
  if (!enabled_) return false;
  set_checked(!checked_);
  platform::post_message(owner_or_self()->window(), SKIN_MSG_CHECK_CLICK, 0,
                         reinterpret_cast<intptr_t>(name_.c_str()));
  return true;
}

void dui_ctrl_check::set_checked(bool checked) {
  checked_ = checked;
  invalidate_control(this);
  platform::notify_access(this, platform::access_event::state_change);
}

void dui_ctrl_check::draw(DcHandle dc) {
  draw_box(dc, box_, box_frame(checked_, hovered_), box_width_, box_height_, p_, rect_);
  draw_text(dc, !enabled_);
}

dui_ctrl_radio::~dui_ctrl_radio() {
  // A destroyed radio must not stay the selection its group would unselect.
  auto& groups = radio_groups();
  const auto found = groups.find(group_);
  if (found != groups.end() && found->second == this) groups.erase(found);
}

dui_ctrl_radio* dui_ctrl_radio::selected_in_group(int group) {
  const auto found = radio_groups().find(group);
  return found == radio_groups().end() ? nullptr : found->second;
}

bool dui_ctrl_radio::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (key == "id") {
      id_ = read_uint(v);
    } else if (key == "groupid") {
      group_ = read_int(v);
    } else if (key == "img") {
      box_.set_file(read_wstring(v));
    } else if (key == "txt") {
      text_ = read_string(v);
    } else if (key == "imgw") {
      box_width_ = read_int(v);
    } else if (key == "imgh") {
      box_height_ = read_int(v);
    } else if (key == "checked") {
      checked_ = read_bool(v);
    }
  });
  if (!load_common(value)) return false;
  if (checked_) select_in_group();
  return true;
}

void dui_ctrl_radio::attach() {
  rect_ = compute_own_rect();
  ctrl_base::attach();
}

void dui_ctrl_radio::layout() {
  rect_ = compute_own_rect();
  ctrl_base::layout();
}

void dui_ctrl_radio::select_in_group() {
  dui_ctrl_radio*& selected = radio_groups()[group_];
  if (selected && selected != this) {
    selected->checked_ = false;
    invalidate_control(selected);
  }
  selected = this;
}

void dui_ctrl_radio::set_checked(bool checked) {
  checked_ = checked;
  if (checked) {
    select_in_group();
  } else if (selected_in_group(group_) == this) {
    radio_groups().erase(group_);
  }
  invalidate_control(this);
}

void dui_ctrl_radio::on_event(const skin_event& event) {
  switch (event.message) {
    case kMsgMouseMove:
      hovered_ = true;
      break;
    case kMsgMouseLeave:
      hovered_ = false;
      break;
    case kMsgLButtonUp:
      activate();
      return;
    default:
      return;
  }
  invalidate_control(this);
}

bool dui_ctrl_radio::activate() {
  set_checked(true);
  platform::post_message(owner_or_self()->window(), SKIN_MSG_RADIO_CLICK, 0,
                         reinterpret_cast<intptr_t>(name_.c_str()));
  return true;
}

std::wstring dui_ctrl_radio::label() const { return utf8_to_wide(text_); }

void dui_ctrl_radio::draw(DcHandle dc) {
  draw_box(dc, box_, box_frame(checked_, hovered_), box_width_, box_height_, 0, rect_);
  if (text_.empty()) return;
  // The radio's label has a fixed look: 12-pixel 宋体, dark grey, left.
  text_style style;
  style.face = kFaceSong;
  style.color = 0xFF2D2D2D;
  const rect label{rect_.left + box_width_ + 5, rect_.top, rect_.right, rect_.bottom};
  platform::draw_text(dc, utf8_to_wide(text_), style, label, false);
}

}  // namespace dui
