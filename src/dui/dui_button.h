// Windowless button: a strip of state frames (or a fill colour) and a label;
// releasing the left button over it posts SKIN_MSG_CLICK with its name.
#pragma once

#include "dui/base_drawtext.h"
#include "dui/ctrl_base.h"
#include "dui/skin_image.h"

namespace dui {

enum button_state { kButtonNormal = 0, kButtonHover = 1, kButtonPressed = 2, kButtonDisabled = 3 };

// The frame of a strip with the given "state" mode shown in a visual state,
// clamped to the frames the strip holds (a three-frame strip has no disabled
// frame). -1: the mode has no frames; the strip's first area is drawn.
int button_frame(int mode, int state, int frames_in_strip);

class dui_ctrl_button : public ctrl_base, public base_drawtext<dui_ctrl_button> {
 public:
  const char* type_name() const override { return "dui_button"; }
  bool captures_click() const override { return true; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;
  void on_event(const skin_event& event) override;

  bool interactive() const override { return true; }
  bool enabled() const override { return state_ != kButtonDisabled; }
  bool activate() override;
  std::wstring label() const override { return text_; }

  void set_disabled(bool disabled);
  void set_image(const std::string& file, int mode);
  int state() const { return state_; }

 protected:
  void draw(DcHandle dc) override;
  access_role default_role() const override { return access_role::push_button; }

 private:
  int mode_ = 0;
  skin_image strip_;
  std::string fillcolor_;
  int id_ = 0;
  int cursor_ = 0;
  int state_ = kButtonNormal;
};

}  // namespace dui
