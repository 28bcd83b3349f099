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

TEST(ContentRangeTest, SizesBeyondThirtyTwoBitsAreTooLargeNotAbsent) {
  const struct {
    const wchar_t* text;
    bool tooLarge;
  } ranges[] = {
      {L"bytes 0-99/5000000000", true},
      {L"bytes 4294967296-4294967300/5000000000", true},
      {L"bytes 0-99/4294967295", false},  // fits: an ordinary range
      {L"bytes 0-99/*", false},
      {L"bytes 5-4/5000000000", false},
  };
  for (const auto& c : ranges) {
    EXPECT_EQ(ContentRangeTooLarge(c.text, std::wcslen(c.text)), c.tooLarge) << c.text;
  }
  const struct {
    const wchar_t* text;
    LengthParse result;
    uint32_t value;
  } lengths[] = {
      {L"0", LengthParse::kOk, 0},
      {L" 4294967294 ", LengthParse::kOk, 4294967294u},
      {L"4294967295", LengthParse::kTooLarge, 0},
      {L"5000000000", LengthParse::kTooLarge, 0},
      {L"99999999999999999999999", LengthParse::kTooLarge, 0},
      {L"", LengthParse::kMalformed, 0},
      {L"12x", LengthParse::kMalformed, 0},
      {L"-1", LengthParse::kMalformed, 0},
  };
  for (const auto& c : lengths) {
    uint32_t value = 0;
    EXPECT_EQ(ParseContentLength(c.text, std::wcslen(c.text), &value), c.result) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(ContentRangeTest, OnlyAnHttpStatusLineWithHeadersIsAResponse) {
  const struct {
    const wchar_t* head;
    bool http;
  } cases[] = {
      {L"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", true},
      {L"HTTP/1.0 206\r\nDate: x\r\n\r\n", true},
      // What WinINet stands in for a reply without a status line.
      {L"HTTP/1.0 200 OK\r\n\r\n", false},
      {L"HTTP/1.0 200 OK", false},
      {L"\x7f\x45LF garbage\r\nX: y\r\n", false},
      {L"HTTP/2.0 200 OK\r\nX: y\r\n", false},
      {L"HTTP/1.1 2000 OK\r\nX: y\r\n", false},
      {L"HTTP/1.1 20x OK\r\nX: y\r\n", false},
      {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsHttpStatusHead(c.head), c.http) << c.head;
}

TEST(SpeedRingTest, WrapsAroundItsTwentySlots) {
  SpeedRing ring;
  std::memset(&ring, 0, sizeof(ring));
  for (uint32_t t = 0; t < 50; ++t) ring.Add(5000 + t, 10);
  EXPECT_EQ(ring.Speed(5049), 10u);
}

}  // namespace
}  // namespace net
