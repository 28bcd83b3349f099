#include "net/monotonic_clock.h"

#include <gtest/gtest.h>

namespace {

TEST(TickExtenderTest, CountsEveryWrapOfTheThirtyTwoBitTick) {
  net::TickExtender extender;
  EXPECT_EQ(extender.Extend(0xFFFFFF00u), 0xFFFFFF00ull);
  EXPECT_EQ(extender.Extend(0xFFFFFF00u), 0xFFFFFF00ull);
  EXPECT_EQ(extender.Extend(0x10u), 0x100000010ull);
  EXPECT_EQ(extender.Extend(0x20u), 0x100000020ull);
  EXPECT_EQ(extender.Extend(0xFFFFFFFFu), 0x1FFFFFFFFull);
  EXPECT_EQ(extender.Extend(0u), 0x200000000ull);
}

}  // namespace
