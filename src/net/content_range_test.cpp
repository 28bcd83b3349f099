#include "net/content_range.h"
#include "net/speed_ring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

namespace net {
namespace {

bool Parse(const wchar_t* text, ContentRange* out) {
  return ParseContentRange(text, std::wcslen(text), out);
}

TEST(ContentRangeTest, ParsesFirstLastAndTotal) {
  ContentRange range{};
  ASSERT_TRUE(Parse(L"bytes 100-199/1000", &range));
  EXPECT_EQ(range.first, 100u);
  EXPECT_EQ(range.last, 199u);
  EXPECT_EQ(range.total, 1000u);
  ASSERT_TRUE(Parse(L"  BYTES 0-4294967294/4294967295 ", &range));
  EXPECT_EQ(range.last, 4294967294u);
  EXPECT_EQ(range.total, 4294967295u);
}

TEST(ContentRangeTest, RejectsMalformedAndInconsistentValues) {
  ContentRange range{7, 8, 9};
  const wchar_t* bad[] = {
      L"",                      L"bytes",
      L"bytes */1000",          L"bytes 0-99/*",
      L"items 0-1/2",           L"bytes 0-99",
      L"bytes 5-4/10",          L"bytes 0-10/10",
      L"bytes 0-1/4294967296",  L"bytes -1-2/3",
      L"bytes 0-1/2 trailing",  L"bytes0x-1/2",
  };
  for (const wchar_t* text : bad) {
    EXPECT_FALSE(Parse(text, &range)) << text;
  }
  EXPECT_EQ(range.first, 7u);  // untouched on failure
}

TEST(ContentRangeTest, StopsAtTheGivenLength) {
  ContentRange range{};
  const wchar_t text[] = L"bytes 0-9/10XYZ";
  EXPECT_TRUE(ParseContentRange(text, 12, &range));
  EXPECT_FALSE(ParseContentRange(text, 11, &range));
}

TEST(SpeedRingTest, AveragesOverTheSecondsOfTheLastTwentySeconds) {
  SpeedRing ring;
  std::memset(&ring, 0, sizeof(ring));
  ring.Add(1000, 100);
  ring.Add(1000, 100);
  ring.Add(1001, 400);
  EXPECT_EQ(ring.Speed(1001), 300u);  // 600 bytes over 2 seconds
  EXPECT_EQ(ring.Speed(1003), 150u);  // over 4 seconds
  // After 20 seconds without data the old slots no longer count.
  EXPECT_EQ(ring.Speed(1021), 0u);
  ring.Add(1030, 50);
  EXPECT_EQ(ring.Speed(1030), 50u);
}

TEST(SpeedRingTest, WrapsAroundItsTwentySlots) {
  SpeedRing ring;
  std::memset(&ring, 0, sizeof(ring));
  for (uint32_t t = 0; t < 50; ++t) ring.Add(5000 + t, 10);
  EXPECT_EQ(ring.Speed(5049), 10u);
}

}  // namespace
}  // namespace net
