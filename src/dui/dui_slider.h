// Windowless progress bar: a background strip, a fill strip whose right edge
// follows the fraction the screen sets, and a thumb highlight that a timer
// slides along inside the fill.
#pragma once

#include "dui/ctrl_base.h"
#include "dui/skin_image.h"

namespace dui {

// The least time between two value-change events of the bar.
constexpr double kValueEventGapMs = 250;

class dui_ctrl_slider : public ctrl_base {
 public:
  ~dui_ctrl_slider() override;
  const char* type_name() const override { return "dui_slider"; }
  bool captures_click() const override { return true; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;
  void on_event(const skin_event& event) override;

  // Moves the fill's right edge to the fraction f of the bar; ignored
  // unless 0 < f <= 1.
  void set_position(double fraction);
  const rect& fill() const { return fill_; }
  // The fraction last set (0 before any).
  double position() const { return position_; }
  const rect& thumb() const { return thumb_; }

 protected:
  void draw(DcHandle dc) override;
  access_role default_role() const override { return access_role::progress_bar; }

 private:
  void reset_rects();
  int cap_width();

  unsigned id_ = 0;
  skin_image background_;
  int background_extra_ = 0;
  skin_image fill_image_;
  int fill_extra_ = 0;
  skin_image thumb_image_;
  unsigned middle_width_ = 0;
  unsigned thumb_width_ = 0;
  unsigned thumb_height_ = 0;
  unsigned thumb_step_ = 0;
  unsigned thumb_period_ = 0;
  rect fill_;
  rect thumb_;
  WindowHandle timer_window_ = nullptr;
  double position_ = 0;
  double last_value_event_ms_ = -1e9;
};

}  // namespace dui
