#include "dui/ctrl_edit.h"

#include "dui/platform.h"
#include "dui/skin_json.h"
#include "dui/text_codec.h"

namespace dui {

std::wstring decode_text_file(const std::string& bytes) {
  std::wstring text = utf8_to_wide(bytes);
  if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
  return text;
}

bool ctrl_text_window::read_shared_key(const std::string& key, const Json::Value& v) {
  if (key == "id") {
    id_ = read_uint(v);
  } else if (key == "t_type") {
    face_ = read_wstring(v);
  } else if (key == "t_size") {
    size_ = read_int(v);
  } else if (key == "readonly") {
    readonly_ = read_bool(v);
  } else if (key == "bordercolor") {
    border_color_ = read_string(v);
  } else {
    return false;
  }
  return true;
}

void ctrl_text_window::layout() {
  rect_ = compute_own_rect();
  ctrl_base::layout();
}

void ctrl_text_window::post_changed() {
  platform::post_message(owner_or_self()->window(), SKIN_MSG_EDIT_CHANGED, 0,
                         reinterpret_cast<intptr_t>(name_.c_str()));
}

bool ctrl_edit::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (!read_shared_key(key, v) && key == "enable") enabled_ = read_bool(v);
  });
  return load_common(value);
}

bool ctrl_richedit::load(const Json::Value& value) {
  for_each_key(value, [this](const std::string& key, const Json::Value& v) {
    if (!read_shared_key(key, v) && key == "t_file") file_ = read_wstring(v);
  });
  return load_common(value);
}

}  // namespace dui
