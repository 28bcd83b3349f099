// The label mix-in of windowless controls: the text keys, the layout
// rectangle and drawing of one string, and run-time text changes.
#pragma once

#include <string>

#include "dui/ctrl_base.h"
#include "dui/platform.h"
#include "dui/text_style.h"

namespace dui {

template <typename T>
class base_drawtext {
 public:
  virtual ~base_drawtext() = default;

  virtual void invalidate_text() {
    T* host = static_cast<T*>(this);
    if (!host->is_visible()) return;
    const rect area = text_rect();
    invalidate_control(host, &area);
  }
  virtual rect text_rect() const { return style_.text_rect(static_cast<const T*>(this)->area()); }
  virtual void set_text_style(const text_style& style) {
    const bool auto_face = style_.auto_face;
    style_ = style;
    style_.auto_face = auto_face;
  }
  virtual void set_text_color(const std::string& color) { style_.color = parse_color_argb(color); }
  virtual void draw_text(DcHandle dc, bool disabled) {
    if (text_.empty()) return;
    platform::draw_text(dc, text_, style_, text_rect(), disabled);
  }

  void set_text(const std::wstring& text) {
    if (text == text_) return;
    text_ = text;
    invalidate_text();
  }
  const std::wstring& text() const { return text_; }
  const text_style& style() const { return style_; }

 protected:
  bool read_text_key(const std::string& key, const Json::Value& value) {
    return style_.read_key(key, value, platform::os_major_version());
  }

  std::wstring text_;
  text_style style_;
};

}  // namespace dui
