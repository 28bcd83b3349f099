// Windowless panel: fill colour, cap images, a picture (or a list of
// pictures it cross-fades through), a label, and an animated move. Presses
// on a panel are not consumed, so the screens can drag their window by it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dui/base_drawtext.h"
#include "dui/ctrl_base.h"
#include "dui/skin_image.h"

namespace dui {

// Timer kinds of the panel's window timer.
enum panel_timer_kind {
  kPanelShowing = 0,    // a picture stays until the gap is over
  kPanelFadingIn = 1,
  kPanelFadingOut = 2,
  kPanelSliding = 623,  // a slide steps on each tick
};

// A skin may ask for any number of steps; more than this are not told apart.
constexpr unsigned kMaxSlideSteps = 1000000;

class dui_ctrl_panel : public ctrl_base, public base_drawtext<dui_ctrl_panel> {
 public:
  dui_ctrl_panel() = default;
  ~dui_ctrl_panel() override;
  const char* type_name() const override { return "dui_panel"; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;
  void on_event(const skin_event& event) override;
  std::wstring label() const override { return text_; }

  // Shows another picture (reloaded on the next paint even when the name is
  // the same).
  void set_image(const std::string& file);
  // Another fill colour ("r,g,b"), drawn on the next paint.
  void set_fill_color(const std::string& color);
  // Moves the panel to the rectangle (in its hosting window), at once or,
  // with "animation", in "animation-degree" eased steps over
  // "animation-time" milliseconds.
  void set_rect(int left, int top, int right, int bottom);
  // One slide step; the hosting window's timer runs it (tests call it
  // directly).
  void slide_step();

  skin_image& picture() { return current_; }
  bool animated() const { return animation_; }
  int32_t remaining_steps() const { return remaining_; }
  // Where the running (or last) slide ends.
  const rect& slide_target() const { return slide_target_; }
  // The period of one slide step: never 0 ms, which no timer accepts.
  unsigned step_period() const;
  float fade_level() const { return fade_level_; }
  int timer_kind() const { return timer_.kind; }
  size_t next_picture() const { return next_index_; }

 protected:
  void draw(DcHandle dc) override;
  // Panels with a text, or a name for a picture of text, read as text.
  access_role default_role() const override {
    return text_.empty() && accname_.empty() ? access_role::none : access_role::static_text;
  }

 private:
  void apply_rect(const rect& r);
  // False when the window has no timer to give.
  bool start_timer(int kind, unsigned period);
  void finish_slide();
  void stop_slide_timer();
  void advance_picture();
  void draw_picture(DcHandle dc, int left, int right);

  std::string fillcolor_;
  std::vector<std::wstring> pictures_;
  skin_image left_cap_;
  skin_image right_cap_;
  skin_image current_;
  unsigned mid_width_ = 0;
  unsigned mid_extra_ = 0;
  unsigned timer_gap_ = 0;
  unsigned timer_fifo_ = 0;
  unsigned switch_type_ = 0;
  bool transparent_ = false;

  // Picture switching: the level of the running fade (0: none) and the
  // list entry shown next.
  float fade_level_ = 0;
  float fade_step_ = 0;
  size_t next_index_ = 0;
  WindowHandle timer_window_ = nullptr;

  // The slide. Its steps run on WM_TIMER of the hosting window, on the UI
  // thread that also lays out, hit-tests and paints the panel, so nothing
  // here needs a lock.
  bool animation_ = false;
  std::string transition_;
  unsigned animation_time_ = 1000;
  unsigned animation_degree_ = 100;
  rect slide_start_;
  rect slide_target_;
  int32_t remaining_ = 0;
};

}  // namespace dui
