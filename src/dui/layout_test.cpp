#include "dui/layout.h"

#include <gtest/gtest.h>

namespace dui {
namespace {

TEST(LayoutTest, WindowParentRules) {
  struct Case {
    int x, y, w, h;
    const char* align;
    rect expected;
  };
  const rect window{0, 0, 620, 282};
  const Case cases[] = {
      {-31, 0, 21, 21, "", {589, 0, 610, 21}},
      {0, -71, 10, 7, "custom", {0, 211, 10, 218}},
      {10, 20, -10, -20, "", {10, 20, 610, 262}},
      {0, 0, 0, 0, "center", {0, 0, 620, 282}},
      {5, 5, 100, 50, "center", {260, 116, 360, 166}},
      {0, 0, -20, -40, "center", {10, 20, 610, 262}},
      {0, 0, 0, 40, "bottom", {0, 242, 620, 282}},
      {0, 0, 0, -40, "bottom", {0, 40, 620, 282}},
      {0, 0, 0, 30, "top", {0, 0, 620, 30}},
      {0, 0, 0, 0, "top", {0, 0, 620, 282}},
      {0, 0, 100, 0, "left", {0, 0, 100, 282}},
      {0, 0, 900, 0, "left", {0, 0, 620, 282}},
      {0, 0, -20, 0, "left", {0, 0, 600, 282}},
      {0, 0, 100, 0, "right", {520, 0, 620, 282}},
      {0, 0, -20, 0, "right", {20, 0, 620, 282}},
      {9, 9, 9, 9, "all", {0, 0, 620, 282}},
      {9, 9, 9, 9, "middle", {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const rect r = compute_rect(c.x, c.y, c.w, c.h, c.align, window, parent_kind::window);
    EXPECT_EQ(r, c.expected) << c.align << " " << c.x << "," << c.y << "," << c.w << "," << c.h;
  }
}

TEST(LayoutTest, WindowlessParentRules) {
  struct Case {
    int x, y, w, h;
    const char* align;
    rect expected;
  };
  const rect panel{60, 40, 560, 240};  // 500 x 200
  const Case cases[] = {
      {10, 20, 30, 40, "", {70, 60, 100, 100}},
      // Negative offsets count from the far edge only when they reach past 0.
      {-100, -50, 30, 40, "", {460, 190, 490, 230}},
      {-10, -5, 30, 40, "custom", {50, 35, 80, 75}},
      {0, 0, 0, 30, "bottom", {60, 210, 560, 240}},
      {0, 0, 0, -30, "bottom", {60, 70, 560, 240}},
      {0, 0, 100, 50, "center", {260, 115, 360, 165}},
      {4, 6, 0, 0, "center", {64, 46, 564, 246}},
      {0, 0, 0, 30, "top", {60, 40, 560, 70}},
      {0, 0, 0, -30, "top", {60, 40, 560, 210}},
      {0, 0, 100, 0, "left", {60, 40, 160, 240}},
      {0, 0, 900, 0, "left", {60, 40, 560, 240}},
      {0, 0, -20, 0, "left", {60, 40, 540, 240}},
      {0, 0, 100, 0, "right", {460, 40, 560, 240}},
      {0, 0, 900, 0, "right", {60, 40, 560, 240}},
      {0, 0, -20, 0, "right", {80, 40, 560, 240}},
      {1, 2, 3, 4, "all", {60, 40, 560, 240}},
      {1, 2, 3, 4, "nowhere", {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const rect r = compute_rect(c.x, c.y, c.w, c.h, c.align, panel, parent_kind::windowless);
    EXPECT_EQ(r, c.expected) << c.align << " " << c.x << "," << c.y << "," << c.w << "," << c.h;
  }
}

TEST(LayoutTest, CornerRegion) {
  const auto p = corner_region(350, 154, 3);
  const point expected[] = {{0, 3},     {3, 0},     {347, 0}, {350, 3},
                            {350, 150}, {346, 154}, {3, 154}, {0, 150}};
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(p[i].x, expected[i].x) << i;
    EXPECT_EQ(p[i].y, expected[i].y) << i;
  }
  // Corner 0 cuts one pixel at the bottom right only.
  const auto q = corner_region(620, 282, 0);
  EXPECT_EQ(q[4].y, 281);
  EXPECT_EQ(q[5].x, 619);
}

}  // namespace
}  // namespace dui
