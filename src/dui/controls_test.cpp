// The windowless controls on the host: the panel's slide steps, check and
// radio transitions with their notices, slider and three-part geometry and
// the frame image's cycle.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "dui/ctrl_dialog.h"
#include "dui/ctrl_edit.h"
#include "dui/dui_button.h"
#include "dui/dui_check.h"
#include "dui/dui_frame_image.h"
#include "dui/dui_panel.h"
#include "dui/dui_slider.h"
#include "dui/platform_nowin.h"
#include "dui/skin_manager.h"
#include "dui/three_part.h"

namespace dui {
namespace {

const char kSkin[] = R"({
  "main": {"type": "dialog", "w": 620, "h": 443,
    "pane": {"type": "dui_panel", "x": 0, "y": 122, "w": 620, "h": 160, "animation": "true",
             "transition": "bounce-out", "animation-time": "1000", "animation-degree": "100"},
    "quick": {"type": "dui_panel", "x": 0, "y": 0, "w": 10, "h": 10, "animation": true,
              "animation-time": 5, "animation-degree": 100},
    "still": {"type": "dui_panel", "x": 0, "y": 0, "w": 10, "h": 10, "animation": true,
              "animation-time": 0},
    "body": {"type": "dui_panel", "x": 20, "y": 30, "w": 500, "h": 300,
      "inner": {"type": "dui_panel", "x": 5, "y": 5, "w": 50, "h": 50}},
    "box": {"type": "dui_check", "x": 10, "y": 300, "w": 100, "h": 13, "imgw": 13, "imgh": 13},
    "off": {"type": "dui_check", "x": 10, "y": 320, "w": 100, "h": 13, "enable": false},
    "r1": {"type": "dui_radio", "groupid": 1, "checked": true, "x": 200, "y": 300, "w": 50, "h": 13},
    "r2": {"type": "dui_radio", "groupid": 1, "x": 260, "y": 300, "w": 50, "h": 13},
    "r3": {"type": "dui_radio", "groupid": 2, "checked": true, "x": 320, "y": 300, "w": 50, "h": 13},
    "bar": {"type": "dui_slider", "x": 70, "y": 400, "w": 490, "h": 7, "thumb_width": 20,
            "thumb_height": 7, "thumb_step": 6, "thumb_timer": 150},
    "path": {"type": "edit", "x": 10, "y": 420, "w": 300, "h": 20, "t_type": "Tahoma",
             "t_size": 90, "readonly": "true", "bordercolor": "1,2,3"},
    "licence": {"type": "richedit", "t_file": "Licence.txt", "x": 10, "y": 10, "w": 200, "h": 100},
    "film": {"type": "dui_frame_circle_image", "x": 0, "y": 0, "w": 10, "h": 10},
    "show": {"type": "dui_panel", "mid_pic": ["a.png", "b.png", "c.png"], "timer_gap": 1000,
             "timer_fifo": 4, "switch_type": 1},
    "stuck": {"type": "dui_panel", "mid_pic": ["a.png", "b.png"], "timer_gap": 1000}}
})";

class ControlsTest : public testing::Test {
 protected:
  void SetUp() override {
    skin_manager::release();
    ASSERT_TRUE(skin_manager::instance()->load_skin_text(kSkin));
    main_ = skin_manager::instance()->find_dialog("main");
    main_->attach_to(reinterpret_cast<WindowHandle>(0x77), nullptr);
    posted_messages().clear();
  }
  void TearDown() override { skin_manager::release(); }

  template <typename T>
  T* find(const char* name) {
    return static_cast<T*>(find_descendant(main_, name));
  }
  void click(ctrl_base* c) {
    ctrl_base* target = nullptr;
    const rect& r = c->area();
    main_->dispatch(kMsgLButtonUp, 0, (r.top << 16) | r.left, &target);
  }
  std::vector<std::string> notices(unsigned message) const {
    std::vector<std::string> out;
    for (const posted_message& m : posted_messages()) {
      if (m.message == message) out.push_back(reinterpret_cast<const char*>(m.lparam));
    }
    return out;
  }

  ctrl_dialog* main_ = nullptr;
};

TEST_F(ControlsTest, BounceSlideNeverPassesItsTargetAndEndsOnIt) {
  auto* pane = find<dui_ctrl_panel>("pane");
  EXPECT_EQ(pane->step_period(), 10u);
  pane->set_rect(0, 282, 620, 442);
  EXPECT_EQ(pane->remaining_steps(), 100);
  EXPECT_EQ(pane->timer_kind(), kPanelSliding);
  int steps = 0, previous_top = 122;
  bool bounced = false;
  skin_event tick;
  tick.message = kMsgTimer;
  while (pane->remaining_steps() > 0) {
    pane->on_event(tick);  // the hosting window's WM_TIMER
    ++steps;
    if (steps % 10 == 5) {
      // The window's WM_SIZE lays the tree out again mid-slide: the panel
      // stays where the step put it.
      const rect before = pane->area();
      main_->layout();
      EXPECT_EQ(pane->area(), before);
    }
    const rect& r = pane->area();
    EXPECT_LE(r.top, 282) << "step " << steps;
    EXPECT_GE(r.top, 122) << "step " << steps;
    EXPECT_EQ(r.height(), 160);
    bounced |= r.top < previous_top;
    previous_top = r.top;
  }
  EXPECT_EQ(steps, 100);
  EXPECT_EQ(pane->area(), (rect{0, 282, 620, 442}));
  EXPECT_TRUE(bounced);  // it lands with bounces
  pane->slide_step();    // a late step changes nothing
  EXPECT_EQ(pane->area(), (rect{0, 282, 620, 442}));
}

TEST_F(ControlsTest, SlideWithoutATimerMovesAtOnce) {
  auto* pane = find<dui_ctrl_panel>("pane");
  set_timers_fail(true);
  pane->set_rect(0, 282, 620, 442);
  set_timers_fail(false);
  EXPECT_EQ(pane->area(), (rect{0, 282, 620, 442}));
  EXPECT_EQ(pane->remaining_steps(), 0);
}

TEST_F(ControlsTest, SlideTimingGuardsAndDirectMoves) {
  // 5 ms over 100 steps would be 0 ms, which no timer takes.
  EXPECT_EQ(find<dui_ctrl_panel>("quick")->step_period(), 1u);
  // A zero animation length ignores the move.
  auto* still = find<dui_ctrl_panel>("still");
  still->set_rect(50, 50, 60, 60);
  EXPECT_EQ(still->area(), (rect{0, 0, 10, 10}));
  // Without animation a panel inside a panel lands exactly on the rectangle
  // (its x and y stay relative to its parent).
  auto* inner = find<dui_ctrl_panel>("inner");
  EXPECT_EQ(inner->area(), (rect{25, 35, 75, 85}));
  inner->set_rect(100, 100, 140, 120);
  EXPECT_EQ(inner->area(), (rect{100, 100, 140, 120}));
  main_->layout();
  EXPECT_EQ(inner->area(), (rect{100, 100, 140, 120}));
}

TEST_F(ControlsTest, PicturesSwitchWithAFadeAndNeverWithoutAFadePeriod) {
  auto* show = find<dui_ctrl_panel>("show");
  EXPECT_EQ(show->picture().file(), L"a.png");
  skin_event tick;
  tick.message = kMsgTimer;
  show->on_event(tick);  // the gap is over: switch, then fade in
  EXPECT_EQ(show->picture().file(), L"b.png");
  EXPECT_EQ(show->timer_kind(), kPanelFadingIn);
  EXPECT_FLOAT_EQ(show->fade_level(), 0.25f);
  for (int i = 0; i < 3; ++i) show->on_event(tick);
  EXPECT_EQ(show->timer_kind(), kPanelShowing);
  EXPECT_EQ(show->fade_level(), 0.0f);
  show->on_event(tick);
  EXPECT_EQ(show->picture().file(), L"c.png");
  for (int i = 0; i < 4; ++i) show->on_event(tick);
  show->on_event(tick);
  EXPECT_EQ(show->picture().file(), L"a.png");  // round robin
  // "timer_fifo" 0 would divide by zero: such a panel keeps its picture.
  auto* stuck = find<dui_ctrl_panel>("stuck");
  for (int i = 0; i < 5; ++i) stuck->on_event(tick);
  EXPECT_EQ(stuck->picture().file(), L"a.png");
  EXPECT_EQ(stuck->fade_level(), 0.0f);
}

TEST_F(ControlsTest, CheckBoxTogglesAndPostsAfterTheChange) {
  auto* box = find<dui_ctrl_check>("box");
  ctrl_base* target = nullptr;
  main_->dispatch(kMsgMouseMove, 0, (305 << 16) | 15, &target);
  EXPECT_TRUE(box->hovered());
  EXPECT_EQ(box_frame(box->is_checked(), box->hovered()), 1);
  click(box);
  EXPECT_TRUE(box->is_checked());
  EXPECT_EQ(box_frame(true, true), 3);
  click(box);
  EXPECT_FALSE(box->is_checked());
  EXPECT_EQ(notices(SKIN_MSG_CHECK_CLICK), (std::vector<std::string>{"box", "box"}));
  EXPECT_EQ(posted_messages()[0].window, reinterpret_cast<WindowHandle>(0x77));
  main_->dispatch(kMsgMouseMove, 0, (200 << 16) | 400, &target);
  EXPECT_FALSE(box->hovered());
  // A disabled check box ignores everything.
  auto* off = find<dui_ctrl_check>("off");
  click(off);
  EXPECT_FALSE(off->is_checked());
  EXPECT_EQ(notices(SKIN_MSG_CHECK_CLICK).size(), 2u);
}

TEST_F(ControlsTest, RadioGroupsAreExclusiveAndIndependent) {
  auto* r1 = find<dui_ctrl_radio>("r1");
  auto* r2 = find<dui_ctrl_radio>("r2");
  auto* r3 = find<dui_ctrl_radio>("r3");
  EXPECT_EQ(dui_ctrl_radio::selected_in_group(1), r1);
  click(r2);
  EXPECT_TRUE(r2->is_checked());
  EXPECT_FALSE(r1->is_checked());
  EXPECT_TRUE(r3->is_checked());
  EXPECT_EQ(notices(SKIN_MSG_RADIO_CLICK), (std::vector<std::string>{"r2"}));
  r1->set_checked(true);
  EXPECT_FALSE(r2->is_checked());
  EXPECT_EQ(dui_ctrl_radio::selected_in_group(1), r1);
  // The group forgets radios that are gone.
  skin_manager::release();
  EXPECT_EQ(dui_ctrl_radio::selected_in_group(1), nullptr);
  EXPECT_EQ(dui_ctrl_radio::selected_in_group(2), nullptr);
}

TEST_F(ControlsTest, SliderPositionAndThumb) {
  auto* bar = find<dui_ctrl_slider>("bar");
  EXPECT_EQ(bar->fill(), (rect{70, 400, 70, 407}));
  bar->set_position(0.5);
  EXPECT_EQ(bar->fill().right, 315);
  for (double ignored : {0.0, 1.5, -0.2}) {
    bar->set_position(ignored);
    EXPECT_EQ(bar->fill().right, 315) << ignored;
  }
  bar->set_position(1.0);
  EXPECT_EQ(bar->fill().right, 560);
  // The thumb moves 6 pixels a tick and starts again past the fill.
  bar->set_position(0.1);  // fill right 119
  skin_event tick;
  tick.message = kMsgTimer;
  for (int i = 0; i < 4; ++i) bar->on_event(tick);
  EXPECT_EQ(bar->thumb(), (rect{94, 400, 114, 407}));
  bar->on_event(tick);
  EXPECT_EQ(bar->thumb(), (rect{70, 400, 90, 407}));
}

TEST(ThreePartTest, GeometryWithTheProgressStrips) {
  three_part_options o;
  o.left_cap = o.right_cap = 49;  // 100-wide strip, 1-pixel middle
  // The background over the whole bar.
  three_part_geometry g = compute_three_part(100, 7, rect{70, 400, 560, 407}, o);
  EXPECT_EQ(g.left_target, (rect{70, 400, 119, 407}));
  EXPECT_EQ(g.right_source, (rect{51, 0, 100, 7}));
  EXPECT_EQ(g.right_target, (rect{511, 400, 560, 407}));
  // (100 - 1) >> 1 = 49-pixel caps leave the two middle columns.
  EXPECT_EQ(g.middle_source, (rect{49, 0, 51, 7}));
  EXPECT_EQ(g.middle_block, (rect{119, 400, 121, 407}));
  EXPECT_EQ(g.middle_span, (rect{119, 400, 511, 407}));
  // Half a fill: left cap and middle, the end cut square.
  o.right = false;
  g = compute_three_part(100, 7, rect{70, 400, 315, 407}, o);
  EXPECT_EQ(g.middle_span, (rect{119, 400, 315, 407}));
  EXPECT_EQ(g.right_target.width(), 0);
  // A fill narrower than the cap: the cap is cut, no middle.
  g = compute_three_part(100, 7, rect{70, 400, 80, 407}, o);
  EXPECT_EQ(g.left_source, (rect{0, 0, 10, 7}));
  EXPECT_EQ(g.left_target, (rect{70, 400, 80, 407}));
  EXPECT_EQ(g.middle_span.width(), 0);
  // Both caps in a narrow place: the left one first, nothing outside.
  o.right = true;
  g = compute_three_part(100, 7, rect{0, 0, 60, 7}, o);
  EXPECT_EQ(g.left_target, (rect{0, 0, 49, 7}));
  EXPECT_EQ(g.right_target, (rect{49, 0, 60, 7}));
  EXPECT_EQ(g.right_source, (rect{89, 0, 100, 7}));
  // An extra middle widens the span, within the destination.
  o.extra_middle = 3;
  g = compute_three_part(100, 7, rect{0, 0, 200, 7}, o);
  EXPECT_EQ(g.middle_span, (rect{46, 0, 154, 7}));
}

TEST(FrameCycleTest, IndexArithmetic) {
  frame_cycle plain;
  plain.frame_count = 3;
  std::vector<int> frames;
  for (int i = 0; i < 4; ++i) {
    plain.tick();
    frames.push_back(plain.frame);
  }
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 0, 1}));

  frame_cycle left;
  left.frame_count = 3;
  left.smooth = true;
  left.period = 100;
  left.trans_time = 200;
  left.show_time = 100;
  left.type = frame_transition::slide_left;
  left.tick();  // 100: half-way through the slide
  EXPECT_EQ(left.frame, 0);
  EXPECT_FLOAT_EQ(left.level, 0.5f);
  EXPECT_EQ(left.neighbour(), 2);
  left.tick();  // 200: arrived
  EXPECT_FLOAT_EQ(left.level, 1.0f);
  left.tick();  // 300 wraps: the previous frame
  EXPECT_EQ(left.frame, 2);
  EXPECT_EQ(left.position, 0);
  frame_cycle right = left;
  right.type = frame_transition::slide_right;
  right.position = 200;
  right.tick();  // wraps: the next frame
  EXPECT_EQ(right.frame, 0);

  frame_cycle fade = left;
  fade.type = frame_transition::fade;
  fade.frame = 0;
  fade.position = 0;
  fade.tick();
  fade.tick();
  fade.tick();  // 300: shown still
  EXPECT_FLOAT_EQ(fade.level, 1.0f);
  fade.tick();  // 400: fading out
  EXPECT_FLOAT_EQ(fade.level, 0.5f);
  EXPECT_EQ(fade.frame, 0);
  fade.tick();
  EXPECT_EQ(fade.frame, 1);

  // No frames, or a zero cycle, or a zero transition: nothing divides by 0.
  frame_cycle empty;
  empty.tick();
  frame_cycle zero = left;
  zero.trans_time = zero.show_time = 0;
  zero.tick();
  EXPECT_EQ(zero.frame, 2);
  zero.show_time = 100;
  zero.tick();
  EXPECT_FLOAT_EQ(zero.level, 1.0f);
}

TEST_F(ControlsTest, EditKeysAndLicenceText) {
  auto* path = find<ctrl_edit>("path");
  EXPECT_EQ(path->face(), L"Tahoma");
  EXPECT_EQ(path->point_tenths(), 90);
  EXPECT_TRUE(path->read_only());
  EXPECT_EQ(path->border_color(), "1,2,3");
  EXPECT_EQ(path->get_text(), L"");
  EXPECT_EQ(find<ctrl_richedit>("licence")->file(), L"Licence.txt");
  EXPECT_EQ(find<ctrl_richedit>("licence")->face(), L"Arial");
  EXPECT_EQ(decode_text_file("\xEF\xBB\xBF\xE8\xAE\xB8\xE5\x8F\xAF"), L"\u8BB8\u53EF");
  EXPECT_EQ(decode_text_file("abc"), L"abc");
  EXPECT_EQ(decode_text_file(""), L"");
}

}  // namespace
}  // namespace dui

namespace dui {
namespace {

// Keyboard: the tab order (tabindex first, then tree order), skipping what
// cannot take the focus (disabled, hidden, covered), and what the keys do.
TEST(KeyboardTest, TabOrderSkipsWhatCannotTakeTheFocusAndKeysActivate) {
  skin_manager::release();
  ASSERT_TRUE(skin_manager::instance()->load_skin_text(R"({
    "w": {"type": "dialog", "w": 300, "h": 200, "default": "go",
      "a_pane": {"type": "dui_panel", "x": 0, "y": 100, "w": 300, "h": 100,
        "hidden_box": {"type": "dui_check", "x": 10, "y": 10, "w": 50, "h": 13}},
      "body": {"type": "dui_panel", "x": 0, "y": 0, "w": 300, "h": 150,
        "close": {"type": "dui_button", "x": 280, "y": 0, "w": 20, "h": 20, "tabindex": 9},
        "go": {"type": "dui_button", "x": 10, "y": 60, "w": 80, "h": 30, "tabindex": 1},
        "box": {"type": "dui_check", "x": 10, "y": 100, "w": 80, "h": 13, "checked": true},
        "off": {"type": "dui_button", "x": 100, "y": 60, "w": 80, "h": 30, "enable": false},
        "gone": {"type": "dui_button", "x": 200, "y": 60, "w": 80, "h": 30, "visible": false}}}
  })"));
  ctrl_dialog* w = skin_manager::instance()->find_dialog("w");
  w->attach_to(reinterpret_cast<WindowHandle>(0x78), nullptr);
  posted_messages().clear();
  std::vector<std::string> order;
  for (ctrl_base* c : w->tab_order()) order.push_back(c->name());
  EXPECT_EQ(order, (std::vector<std::string>{"go", "close", "hidden_box", "box", "gone", "off"}));

  // The pane's box lies under the body: Tab never lands on it, nor on the
  // disabled or hidden buttons.
  const auto tab = [&](bool back) {
    w->on_key(0x09, back);
    return w->focused() ? w->focused()->name() : std::string("-");
  };
  EXPECT_EQ(tab(false), "go");
  EXPECT_EQ(tab(false), "close");
  EXPECT_EQ(tab(false), "box");
  EXPECT_EQ(tab(false), "go");  // around
  EXPECT_EQ(tab(true), "box");
  EXPECT_EQ(w->focus_ring(w->focused()), (rect{6, 96, 94, 117}));

  // Space toggles the focused box and posts its notice; Enter on it too.
  auto* box = static_cast<dui_ctrl_check*>(w->focused());
  w->on_key(0x20, false);
  EXPECT_FALSE(box->is_checked());
  w->on_key(0x0D, false);
  EXPECT_TRUE(box->is_checked());
  // Esc presses the close box; with no focus Enter presses the default.
  w->on_key(0x1B, false);
  w->set_focus(nullptr);
  w->on_key(0x0D, false);
  std::vector<std::string> sent;
  for (const posted_message& m : posted_messages()) sent.push_back(reinterpret_cast<const char*>(m.lparam));
  EXPECT_EQ(sent, (std::vector<std::string>{"box", "box", "close", "go"}));
  EXPECT_EQ(posted_messages()[2].message, SKIN_MSG_CLICK);

  // A disabled close box takes the key and does nothing; other keys pass.
  static_cast<dui_ctrl_button*>(find_descendant(w, "close"))->set_disabled(true);
  EXPECT_TRUE(w->press_close_box());
  EXPECT_FALSE(w->on_key('A', false));
  EXPECT_EQ(posted_messages().size(), 4u);
  skin_manager::release();
}

}  // namespace
}  // namespace dui
