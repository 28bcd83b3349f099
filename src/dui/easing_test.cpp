// The easing curves against values of an independent implementation of the
// same equations (easing_golden.inc, made by tools/easing_golden).
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "dui/easing.h"

namespace dui {
namespace {

struct golden_value {
  const char* name;
  double t, b, c, d, expected;
};

const golden_value kGolden[] = {
#include "dui/easing_golden.inc"
};

TEST(EasingTest, EveryCurveMatchesTheIndependentValues) {
  std::set<std::string> names;
  for (const golden_value& g : kGolden) {
    names.insert(g.name);
    const double got = get_easing(g.name)(g.t, g.b, g.c, g.d);
    EXPECT_NEAR(got, g.expected, 1e-9) << g.name << " t=" << g.t << " d=" << g.d;
  }
  EXPECT_EQ(names.size(), 37u);
}

TEST(EasingTest, EndsAreExactAndZeroDurationEnds) {
  std::set<std::string> names;
  for (const golden_value& g : kGolden) names.insert(g.name);
  for (const std::string& name : names) {
    const easing_function f = get_easing(name);
    EXPECT_NEAR(f(0, 3, 160, 100), 3, 1e-9) << name;
    EXPECT_NEAR(f(100, 3, 160, 100), 163, 1e-9) << name;
    // A zero or negative length gives the end value, never NaN.
    EXPECT_EQ(f(0, 3, 160, 0), 163) << name;
    EXPECT_EQ(f(5, 3, 160, -1), 163) << name;
  }
}

TEST(EasingTest, NamesAreExact) {
  const easing_function linear = get_easing("linear");
  EXPECT_EQ(linear(5, 0, 10, 10), 5);
  for (const char* other : {"Bounce-Out", "QUAD-IN", "", "bounce_out", "unknown"}) {
    EXPECT_EQ(get_easing(other), linear) << other;
  }
  EXPECT_NE(get_easing("bounce-out"), linear);
  EXPECT_NEAR(get_easing("bounce-in")(0.5, 0, 1, 1), 0.765625, 1e-12);
  // The back curves dip below the start, the stronger ones further.
  const double dip = get_easing("back-in")(0.2, 0, 1, 1);
  EXPECT_LT(dip, -0.04);
  EXPECT_LT(get_easing("xx-back-in")(0.2, 0, 1, 1), dip);
}

}  // namespace
}  // namespace dui
