#include "net/range_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace net {
namespace {

std::vector<ByteRange> R(std::initializer_list<ByteRange> list) { return list; }

TEST(RangeListTest, FreshListHoldsFourGigabytesAndTrimsToTheSize) {
  RangeList list = RangeList::Whole();
  EXPECT_EQ(list.TotalBytes(), 0x100000000ull);
  EXPECT_TRUE(list.DeleteRange(1000, 0xFFFFFFFFu));
  EXPECT_EQ(list.ranges(), R({{0, 999}}));
  EXPECT_EQ(list.TotalBytes(), 1000u);
}

TEST(RangeListTest, CutInTheMiddleLeavesLeftThenRightAtTheSameIndex) {
  RangeList list;
  list.Assign({{0, 9}, {100, 199}, {300, 399}});
  EXPECT_TRUE(list.DeleteRange(150, 159));
  EXPECT_EQ(list.ranges(), R({{0, 9}, {100, 149}, {160, 199}, {300, 399}}));
  EXPECT_TRUE(list.DeleteRange(100, 149));  // a whole range disappears
  EXPECT_EQ(list.ranges(), R({{0, 9}, {160, 199}, {300, 399}}));
}

TEST(RangeListTest, SpanningSeveralRangesRemovesEveryOverlap) {
  RangeList list;
  list.Assign({{0, 9}, {20, 29}, {40, 49}});
  // [5, 44] also covers the gaps, which are not pending: false, but every
  // pending byte inside it is gone.
  EXPECT_FALSE(list.DeleteRange(5, 44));
  EXPECT_EQ(list.ranges(), R({{0, 4}, {45, 49}}));
}

TEST(RangeListTest, RemovingAlreadyWrittenBytesReportsFalseAndChangesNothing) {
  RangeList list;
  list.Assign({{0, 99}});
  EXPECT_TRUE(list.DeleteRange(0, 49));
  EXPECT_FALSE(list.DeleteRange(0, 49));
  EXPECT_FALSE(list.DeleteRange(40, 59));  // half written before
  EXPECT_EQ(list.ranges(), R({{60, 99}}));
  EXPECT_FALSE(list.DeleteRange(500, 600));
}

TEST(RangeListTest, EdgesOfTheOffsetSpaceDoNotWrap) {
  RangeList list = RangeList::Whole();
  EXPECT_TRUE(list.DeleteRange(0, 0));
  EXPECT_TRUE(list.DeleteRange(0xFFFFFFFFu, 0xFFFFFFFFu));
  EXPECT_EQ(list.ranges(), R({{1, 0xFFFFFFFEu}}));
  EXPECT_TRUE(list.DeleteRange(1, 0xFFFFFFFEu));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.TotalBytes(), 0u);
}

TEST(RangeListTest, InvertedRangesAreIgnored) {
  RangeList list;
  list.Append({10, 5});
  EXPECT_TRUE(list.empty());
  list.Append({5, 10});
  EXPECT_TRUE(list.DeleteRange(8, 7));  // empty: nothing to remove
  EXPECT_EQ(list.ranges(), R({{5, 10}}));
}

}  // namespace
}  // namespace net
