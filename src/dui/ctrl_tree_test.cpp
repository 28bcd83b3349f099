// The control tree built from skin texts: factory, order, lookups, hit
// testing and the click a button posts.
#include <gtest/gtest.h>

#include "dui/ctrl_dialog.h"
#include "dui/dui_button.h"
#include "dui/dui_panel.h"
#include "dui/platform_nowin.h"
#include "dui/skin_manager.h"

namespace dui {
namespace {

const char kSkin[] = R"({
  // the first node
  "main": {"type": "dialog", "w": 620, "h": 282,
    "zeta": {"type": "dui_panel", "x": 0, "y": 0, "w": 50, "h": 50},
    "alpha": {"type": "dui_panel", "x": 0, "y": 0, "w": 100, "h": 100},
    "body": {"type": "dui_panel", "x": 10, "y": 10, "w": 600, "h": 262,
      "inner": {"type": "dui_panel", "x": 400, "y": 0, "w": 200, "h": 100,
        "close": {"type": "dui_button", "x": 170, "y": 0, "w": 21, "h": 21, "state": 4},
        "hidden": {"type": "dui_button", "x": 100, "y": 0, "w": 30, "h": 30, "visible": false}},
      "odd": {"type": "dui_widget"},
      "numbered": {"type": 5},
      "fine": {"type": "dui_button", "x": 0, "y": 200, "w": 10, "h": 10}}
  },
  "other": {"type": "dialog", "w": 350, "h": 154},
  "ignored": {"type": "panel"},
  "scalar": 3
})";

class ControlTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    skin_manager::release();
    manager_ = skin_manager::instance();
    ASSERT_TRUE(manager_->load_skin_text(kSkin));
    posted_messages().clear();
  }
  void TearDown() override { skin_manager::release(); }

  static std::vector<std::string> names(const ctrl_base* c) {
    std::vector<std::string> out;
    for (const child_entry& e : c->children()) out.push_back(e.name);
    return out;
  }

  skin_manager* manager_ = nullptr;
};

TEST_F(ControlTreeTest, BuildsDialogNodesWithChildrenInNameOrder) {
  std::vector<std::string> nodes;
  for (const auto& n : manager_->nodes()) nodes.push_back(n.first);
  EXPECT_EQ(nodes, (std::vector<std::string>{"main", "other"}));
  ctrl_dialog* main = manager_->find_dialog("main");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(names(main), (std::vector<std::string>{"alpha", "body", "zeta"}));
  // Unknown and non-string types are skipped without harming siblings.
  EXPECT_EQ(names(main->find_child("body")), (std::vector<std::string>{"fine", "inner"}));
  EXPECT_EQ(manager_->find_dialog("ignored"), nullptr);
}

TEST_F(ControlTreeTest, FindControlSearchesDepthFirst) {
  ctrl_base* close = manager_->find_control("main", "close");
  ASSERT_NE(close, nullptr);
  EXPECT_STREQ(close->type_name(), "dui_button");
  EXPECT_EQ(close->parent()->name(), "inner");
  EXPECT_EQ(close->owner(), manager_->find_dialog("main"));
  EXPECT_EQ(manager_->find_control("main", ""), nullptr);
  EXPECT_EQ(manager_->find_control("", "close"), nullptr);
  EXPECT_EQ(manager_->find_control("nowhere", "close"), nullptr);
  EXPECT_EQ(manager_->find_control("main", "main"), nullptr);
}

TEST_F(ControlTreeTest, SecondLoadUpdatesInsteadOfDuplicating) {
  ctrl_base* close = manager_->find_control("main", "close");
  ASSERT_TRUE(manager_->load_skin_text(kSkin));
  EXPECT_EQ(manager_->find_control("main", "close"), close);
  EXPECT_EQ(names(manager_->find_dialog("main")), (std::vector<std::string>{"alpha", "body", "zeta"}));
  EXPECT_EQ(names(close->parent()), (std::vector<std::string>{"close", "hidden"}));
  // A name that exists deeper in an earlier sibling is a new control here.
  ASSERT_TRUE(manager_->load_skin_text(
      R"({"main": {"type": "dialog", "alpha": {"type": "dui_panel",
            "close": {"type": "dui_button"}}}})"));
  ctrl_base* alpha = manager_->find_control("main", "alpha");
  ASSERT_EQ(alpha->children().size(), 1u);
  EXPECT_NE(alpha->children()[0].control, close);
  EXPECT_EQ(names(close->parent()), (std::vector<std::string>{"close", "hidden"}));
  // Malformed text keeps what was loaded.
  EXPECT_FALSE(manager_->load_skin_text("{\"main\": "));
  EXPECT_EQ(manager_->find_control("main", "close"), alpha->children()[0].control);
  EXPECT_EQ(manager_->find_control("main", "hidden")->parent(), close->parent());
}

TEST_F(ControlTreeTest, HitTestAndClickDispatch) {
  ctrl_dialog* main = manager_->find_dialog("main");
  main->attach_to(reinterpret_cast<WindowHandle>(0x1234), nullptr);
  const auto point = [](int x, int y) { return static_cast<intptr_t>((y << 16) | (x & 0xFFFF)); };
  ctrl_base* close = manager_->find_control("main", "close");
  EXPECT_EQ(close->area(), (rect{580, 10, 601, 31}));
  // The last matching child wins at each level, down to the deepest.
  EXPECT_EQ(hit_test(main, 585, 15), close);
  EXPECT_EQ(hit_test(main, 5, 5)->name(), "zeta");
  // The hidden button is skipped: its panel is the result.
  EXPECT_EQ(hit_test(main, 505, 15)->name(), "inner");
  main->find_child("zeta")->set_visible(false);
  EXPECT_EQ(hit_test(main, 5, 5)->name(), "alpha");
  EXPECT_EQ(hit_test(main, 5, 150), main);

  ctrl_base* target = nullptr;
  // A press on a panel is not consumed (the screen may drag its window).
  EXPECT_FALSE(main->dispatch(kMsgLButtonDown, 0, point(300, 100), &target));
  EXPECT_EQ(target->name(), "body");
  EXPECT_TRUE(main->dispatch(kMsgLButtonDown, 0, point(585, 15), &target));
  EXPECT_EQ(static_cast<dui_ctrl_button*>(close)->state(), kButtonPressed);
  EXPECT_TRUE(main->dispatch(kMsgLButtonUp, 0, point(585, 15), &target));
  ASSERT_EQ(posted_messages().size(), 1u);
  EXPECT_EQ(posted_messages()[0].message, SKIN_MSG_CLICK);
  EXPECT_EQ(posted_messages()[0].window, reinterpret_cast<WindowHandle>(0x1234));
  EXPECT_STREQ(reinterpret_cast<const char*>(posted_messages()[0].lparam), "close");

  // Hover moves on and the left control hears the leave.
  main->dispatch(kMsgMouseMove, 0, point(585, 15), &target);
  EXPECT_EQ(static_cast<dui_ctrl_button*>(close)->state(), kButtonHover);
  EXPECT_EQ(main->hovered(), close);
  main->dispatch(kMsgMouseMove, 0, point(300, 100), &target);
  EXPECT_EQ(static_cast<dui_ctrl_button*>(close)->state(), kButtonNormal);

  // Timer ids that are not a live control's record are never read.
  EXPECT_FALSE(main->dispatch(kMsgTimer, 0xDEADBEEF, 0, &target));
  EXPECT_FALSE(main->dispatch(kMsgTimer, 1001, 0, &target));
}

TEST_F(ControlTreeTest, DisabledButtonIgnoresClicks) {
  ctrl_dialog* main = manager_->find_dialog("main");
  main->attach_to(nullptr, nullptr);
  auto* close = static_cast<dui_ctrl_button*>(manager_->find_control("main", "close"));
  close->set_disabled(true);
  ctrl_base* target = nullptr;
  EXPECT_TRUE(main->dispatch(kMsgLButtonUp, 0, (15 << 16) | 585, &target));
  EXPECT_EQ(close->state(), kButtonDisabled);
  EXPECT_TRUE(posted_messages().empty());
}

TEST(ButtonFrameTest, FrameForEveryModeAndState) {
  // Rows: mode; columns: normal, hover, pressed, disabled (4-frame strip).
  const int expected[][5] = {{2, 0, 1, 1, 1}, {3, 0, 1, 2, 3}, {4, 0, 1, 2, 3},
                             {5, 0, 3, 3, 3}, {0, -1, -1, -1, -1}};
  for (const auto& row : expected) {
    for (int state = 0; state < 4; ++state) {
      EXPECT_EQ(button_frame(row[0], state, 4), row[state + 1]) << row[0] << " " << state;
    }
  }
  // A three-frame strip shows its last frame when disabled, not nothing.
  EXPECT_EQ(button_frame(3, kButtonDisabled, 3), 2);
  EXPECT_EQ(button_frame(5, kButtonPressed, 6), 4);
}

}  // namespace
}  // namespace dui

namespace dui {
namespace {

// A windowless control that counts how often it draws itself.
class counting_ctrl : public ctrl_base {
 public:
  const char* type_name() const override { return "dui_counting"; }
  void attach() override {
    rect_ = compute_own_rect();
    ctrl_base::attach();
  }
  int draws = 0;

 protected:
  void draw(DcHandle) override { ++draws; }
};

TEST(RedrawTest, FlagsFollowInvalidationAndParents) {
  register_control_type("dui_counting", [] { return static_cast<ctrl_base*>(new counting_ctrl); });
  skin_manager::release();
  ASSERT_TRUE(skin_manager::instance()->load_skin_text(R"({"d": {"type": "dialog", "w": 200, "h": 100,
      "back": {"type": "dui_counting", "align": "all",
        "plain": {"type": "dui_counting", "x": 10, "y": 10, "w": 20, "h": 20},
        "linked": {"type": "dui_counting", "x": 50, "y": 10, "w": 20, "h": 20,
                   "invalidateparent": true}}}})"));
  ctrl_dialog* d = skin_manager::instance()->find_dialog("d");
  d->attach_to(nullptr, nullptr);
  auto* back = static_cast<counting_ctrl*>(find_descendant(d, "back"));
  auto* plain = static_cast<counting_ctrl*>(find_descendant(d, "plain"));
  auto* linked = static_cast<counting_ctrl*>(find_descendant(d, "linked"));
  const rect all = d->area();
  d->render(nullptr, all);
  EXPECT_EQ(back->draws + plain->draws + linked->draws, 3);

  // A partial update redraws only the flagged control: its parent stays
  // undrawn (transparent) unless invalidateparent is set.
  invalidate_control(plain);
  d->render(nullptr, plain->area());
  EXPECT_EQ(back->draws, 1);
  EXPECT_EQ(plain->draws, 2);
  invalidate_control(linked);
  d->render(nullptr, linked->area());
  EXPECT_EQ(back->draws, 2);
  EXPECT_EQ(linked->draws, 2);
  // A redrawn parent draws its children again (they lie on top of it).
  EXPECT_EQ(plain->draws, 3);

  // A full repaint draws every level, grandchildren included.
  d->render(nullptr, all);
  EXPECT_EQ(back->draws, 3);
  EXPECT_EQ(plain->draws, 4);
  EXPECT_EQ(linked->draws, 3);
  // Hidden controls and their children are neither drawn nor hit.
  back->set_visible(false);
  EXPECT_FALSE(plain->is_visible());
  d->render(nullptr, all);
  EXPECT_EQ(plain->draws, 4);
  EXPECT_EQ(hit_test(d, 15, 15), d);
  skin_manager::release();
}

}  // namespace
}  // namespace dui

namespace dui {
namespace {

TEST(ControlWindowsTest, MapIsEmptiedWithANewRegistry) {
  skin_manager::release();
  skin_manager::instance();
  counting_ctrl edit;
  const auto window = reinterpret_cast<WindowHandle>(0x42);
  register_control_window(window, &edit);
  EXPECT_EQ(control_of_window(window), &edit);
  EXPECT_EQ(control_of_window(nullptr), nullptr);
  skin_manager::release();
  skin_manager::instance();
  EXPECT_EQ(control_of_window(window), nullptr);
  skin_manager::release();
}

}  // namespace
}  // namespace dui
