// Windowless check box and radio button: a strip of four box frames
// (unchecked, unchecked hovered, checked, checked hovered) and a label.
// A click toggles the check box and posts SKIN_MSG_CHECK_CLICK; it selects
// the radio, unselects the other radio of its group and posts
// SKIN_MSG_RADIO_CLICK.
#pragma once

#include "dui/base_drawtext.h"
#include "dui/ctrl_base.h"
#include "dui/skin_image.h"

namespace dui {

// The frame of the box strip for a state.
inline int box_frame(bool checked, bool hovered) { return (checked ? 2 : 0) + (hovered ? 1 : 0); }

class dui_ctrl_check : public ctrl_base, public base_drawtext<dui_ctrl_check> {
 public:
  const char* type_name() const override { return "dui_check"; }
  bool captures_click() const override { return true; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;
  void on_event(const skin_event& event) override;

  bool interactive() const override { return true; }
  bool enabled() const override { return enabled_; }
  bool activate() override;
  bool checked() const override { return checked_; }
  std::wstring label() const override { return text_; }

  void set_checked(bool checked);
  bool is_checked() const { return checked_; }
  bool hovered() const { return hovered_; }

 protected:
  void draw(DcHandle dc) override;
  access_role default_role() const override { return access_role::check_box; }

 private:
  unsigned id_ = 0;
  skin_image box_;
  int box_width_ = 0;
  int box_height_ = 0;
  bool checked_ = false;
  bool hovered_ = false;
  bool enabled_ = true;
};

class dui_ctrl_radio : public ctrl_base {
 public:
  ~dui_ctrl_radio() override;
  const char* type_name() const override { return "dui_radio"; }
  bool captures_click() const override { return true; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;
  void on_event(const skin_event& event) override;

  bool interactive() const override { return true; }
  bool activate() override;
  bool checked() const override { return checked_; }
  std::wstring label() const override;

  void set_checked(bool checked);
  bool is_checked() const { return checked_; }
  bool hovered() const { return hovered_; }
  int group() const { return group_; }
  // The selected radio of a group, or nullptr.
  static dui_ctrl_radio* selected_in_group(int group);

 protected:
  void draw(DcHandle dc) override;
  access_role default_role() const override { return access_role::radio_button; }

 private:
  void select_in_group();

  unsigned id_ = 0;
  int group_ = 0;
  skin_image box_;
  std::string text_;
  int box_width_ = 0;
  int box_height_ = 0;
  bool checked_ = false;
  bool hovered_ = false;
};

}  // namespace dui
