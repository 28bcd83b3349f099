#include "dui/archive_name.h"

#include <gtest/gtest.h>

namespace dui {
namespace {

TEST(ArchiveNameTest, EntriesStayInsideTheSkinFolder) {
  struct Case {
    const wchar_t* stored;
    const wchar_t* written;  // empty: refused
  };
  const Case cases[] = {
      {L"skin.txt", L"skin.txt"},
      {L"img/btn.png", L"img\\btn.png"},
      // Two parent steps then a file name: the bare file name.
      {L"a\\..\\..\\x.png", L"x.png"},
      {L"a/../../x", L"x"},
      // Drive prefix and rooted path: the path without drive and separator.
      {L"C:\\dir\\f.txt", L"dir\\f.txt"},
      {L"C:/C:\\/f", L"f"},
      // Leading parent steps escaped the old rules.
      {L"../x", L"x"},
      {L"..\\x", L"x"},
      {L"../../..\\x", L"x"},
      {L"C:../x", L"x"},
      {L"\\\\server\\share\\x", L"server\\share\\x"},
      {L"a/./b", L"a\\b"},
      // A trailing parent step or a bare one names the folder or leaves it.
      {L"..", L""},
      {L"a/..", L""},
      {L"x/..abc", L"x\\..abc"},
      {L"", L""},
      {L"/", L""},
      // Stream names and control characters are never written.
      {L"a.txt:evil", L""},
      {L"a\x01.txt", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(entry_path_inside_folder(c.stored), c.written) << c.stored;
  }
}

TEST(ArchiveNameTest, SanitizeKeepsTheFirst260Characters) {
  const std::wstring longer(300, L'a');
  EXPECT_EQ(sanitize_entry_name(longer).size(), 260u);
  EXPECT_EQ(sanitize_entry_name(L"x/../y/..\\z"), L"z");
}

TEST(ArchiveNameTest, UnixTimeFromTheUtExtraField) {
  // Another field first, then "UT" with flags 1 and the time 0x5F5E1000.
  const uint8_t extra[] = {0x01, 0x00, 0x02, 0x00, 0xAA, 0xBB, 0x55, 0x54,
                           0x05, 0x00, 0x01, 0x00, 0x10, 0x5E, 0x5F};
  uint32_t mtime = 0;
  ASSERT_TRUE(unix_mtime_from_extra(extra, sizeof extra, &mtime));
  EXPECT_EQ(mtime, 0x5F5E1000u);
  // Without the modification-time flag, or cut short, there is no time.
  uint8_t no_flag[sizeof extra];
  std::copy(extra, extra + sizeof extra, no_flag);
  no_flag[10] = 0x02;
  EXPECT_FALSE(unix_mtime_from_extra(no_flag, sizeof no_flag, &mtime));
  EXPECT_FALSE(unix_mtime_from_extra(extra, sizeof extra - 1, &mtime));
}

}  // namespace
}  // namespace dui
