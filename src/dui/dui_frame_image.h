// Windowless frame-animation image: cycles through the frames of one strip,
// switching at each tick or with eased fade and slide transitions.
#pragma once

#include <string>

#include "dui/ctrl_base.h"
#include "dui/skin_image.h"

namespace dui {

enum class frame_transition { fade, slide_left, slide_right };

// The cycling state and its arithmetic, without any drawing.
struct frame_cycle {
  int frame_count = 0;
  int period = 500;
  bool smooth = false;
  int trans_time = 0;
  int show_time = 0;
  frame_transition type = frame_transition::fade;
  std::string transition;

  int frame = 0;
  int position = 0;  // milliseconds into the current cycle
  float level = 1.0f;

  // Advances by one timer period. Without frames, or with a smooth cycle
  // of zero length, nothing moves.
  void tick();
  // The frame a slide moves to: the previous one for "slide-left", else
  // the next.
  int neighbour() const {
    if (frame_count <= 0) return 0;
    return type == frame_transition::slide_left ? (frame + frame_count - 1) % frame_count
                                                : (frame + 1) % frame_count;
  }
};

class dui_ctrl_frame_circle_image : public ctrl_base {
 public:
  ~dui_ctrl_frame_circle_image() override;
  const char* type_name() const override { return "dui_frame_circle_image"; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;
  void on_event(const skin_event& event) override;
  // It draws no children.
  void paint(DcHandle dc, const rect& update) override;

  const frame_cycle& cycle() const { return cycle_; }

 private:
  skin_image strip_;
  int sub_width_ = 0;
  frame_cycle cycle_;
  double start_ms_ = 0;
  WindowHandle timer_window_ = nullptr;
};

}  // namespace dui
