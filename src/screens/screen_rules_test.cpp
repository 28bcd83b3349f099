#include "screens/screen_rules.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr std::uint64_t kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024;

TEST(ScreenRules, FreeSpaceTextAndVerdict) {
  const struct {
    std::uint64_t bytes;
    const wchar_t* text;
    bool enough;
  } cases[] = {
      {kGiB * 19 / 10, L"1 GB", true},
      {kGiB * 5 + kMiB * 900, L"5 GB", true},  // above 4 GiB: the high part counts
      {kMiB * 1023, L"1023 MB", true},
      {kMiB * 100, L"100 MB", true},
      {kMiB * 100 - 1, L"99 MB", false},
      {kMiB * 99, L"99 MB", false},
      {kKiB * 512, L"512 KB", false},
      {0, L"0 KB", false},  // a failed query
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FreeSpaceSizeText(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(IsFreeSpaceEnough(c.bytes), c.enough) << c.bytes;
  }
  EXPECT_EQ(FreeSpaceText(kGiB * 3),
            L"\x6240\x9700\x78C1\x76D8\x7A7A\x95F4\xFF1A" L"100 MB    "
            L"\x53EF\x7528\x78C1\x76D8\x7A7A\x95F4\xFF1A" L"3 GB");
}

TEST(ScreenRules, DirectoryForms) {
  EXPECT_FALSE(HasDrivePath(L"\\\\server\\share\\x"));
  EXPECT_FALSE(HasDrivePath(L"D:"));
  EXPECT_TRUE(HasDrivePath(L"D:\\Apps"));
  EXPECT_EQ(DriveRootOf(L"D:\\Apps"), L"D:");
  EXPECT_EQ(DriveRootOf(L"\\\\server\\share"), L"C:");
  EXPECT_EQ(WithProductFolder(L"D:\\Apps\\"), L"D:\\Apps\\ZetoraBrowser");
  EXPECT_EQ(WithProductFolder(L"D:\\Apps"), L"D:\\Apps\\ZetoraBrowser");
  // Only the last component names the product folder.
  EXPECT_EQ(WithProductFolder(L"D:\\ZetoraBrowser\\x"), L"D:\\ZetoraBrowser\\x\\ZetoraBrowser");
  EXPECT_EQ(WithProductFolder(L"D:\\ZetoraBrowserOld"), L"D:\\ZetoraBrowserOld\\ZetoraBrowser");
  EXPECT_EQ(WithProductFolder(L"D:\\OldZetoraBrowser"), L"D:\\OldZetoraBrowser\\ZetoraBrowser");
  EXPECT_EQ(WithProductFolder(L"D:\\Apps\\ZetoraBrowser"), L"D:\\Apps\\ZetoraBrowser");
  EXPECT_EQ(WithProductFolder(L"D:\\Apps\\ZetoraBrowser\\"), L"D:\\Apps\\ZetoraBrowser\\");
  EXPECT_EQ(WithProductFolder(L"D:ZetoraBrowser"), L"D:ZetoraBrowser");
  EXPECT_EQ(WithProductFolder(L"D:\\"), L"D:\\ZetoraBrowser");
  EXPECT_EQ(WithProductFolder(L"D:\\zetorabrowser"), L"D:\\zetorabrowser\\ZetoraBrowser");
}

TEST(ScreenRules, ProgressScaleAndInstallBlocks) {
  int shown = -1;
  EXPECT_TRUE(DownloadShownPercent(50, &shown));
  EXPECT_EQ(shown, 40);
  EXPECT_TRUE(DownloadShownPercent(100, &shown));
  EXPECT_EQ(shown, 80);
  EXPECT_FALSE(DownloadShownPercent(101, &shown));
  EXPECT_TRUE(InstallShownPercent(50, &shown));
  EXPECT_EQ(shown, 90);
  EXPECT_FALSE(InstallShownPercent(0xFFFFFFFFu, &shown));  // a negative percent read unsigned

  const std::uint32_t good[2] = {50, 0}, flagged[2] = {50, 1};
  std::uint32_t percent = 0;
  EXPECT_TRUE(ParseInstallProgress(10001, good, 8, &percent));
  EXPECT_EQ(percent, 50u);
  EXPECT_FALSE(ParseInstallProgress(10002, good, 8, &percent));
  EXPECT_FALSE(ParseInstallProgress(10001, flagged, 8, &percent));
  EXPECT_FALSE(ParseInstallProgress(10001, good, 7, &percent));
  EXPECT_FALSE(ParseInstallProgress(10001, nullptr, 8, &percent));
}

TEST(ScreenRules, ModesAndEndNotices) {
  EXPECT_TRUE(LookOfMode(0).startsAtOnce);
  EXPECT_TRUE(LookOfMode(5).startsAtOnce);
  EXPECT_STREQ(LookOfMode(1).actionPicture, "btn_open.png");
  EXPECT_FALSE(LookOfMode(3).customEnabled);
  EXPECT_EQ(LookOfMode(2).tipsString, 178u);
  EXPECT_EQ(LookOfMode(4).tipsString, 181u);
  EXPECT_TRUE(LookOfMode(4).updateMode);
  EXPECT_FALSE(LookOfMode(6).known);
  EXPECT_FALSE(LookOfMode(-1).known);

  EXPECT_FALSE(EndNoticeShowsFailure(3, false));
  EXPECT_TRUE(EndNoticeShowsFailure(5, false));
  EXPECT_FALSE(EndNoticeShowsFailure(5, true));
  EXPECT_FALSE(EndNoticeShowsFailure(0, false));
  EXPECT_FALSE(EndNoticeShowsFailure(8, false));
}

}  // namespace
