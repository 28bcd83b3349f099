#include "sys/text_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// The C runtimes differ where a text meets the buffer's end (the system's
// _vsnwprintf leaves no terminator there): the result and the terminator
// must not.
TEST(TextFormat, TextsAreTerminatedAndCutTextsReported) {
  const struct {
    std::size_t count;
    int result;
    const wchar_t* text;
  } cases[] = {
      {16, 9, L"42 a-b 7%"},
      {10, 9, L"42 a-b 7%"},  // fits with its terminator
      {9, -1, L"42 a-b 7"},   // fills the buffer: cut
      {4, -1, L"42 "},
      {1, -1, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    wchar_t buffer[16];
    std::fill(buffer, buffer + 16, L'#');
    EXPECT_EQ(FormatWide(buffer, c.count, L"%d %ls-%hs %u%%", 42, L"a", "b", 7u), c.result);
    EXPECT_EQ(std::wstring(buffer), c.text);
  }
  char narrow[8];
  EXPECT_EQ(FormatNarrow(narrow, sizeof narrow, "%08X", 0xBEEFu), -1);
  EXPECT_STREQ(narrow, "0000BEE");
  EXPECT_EQ(FormatNarrow(narrow, sizeof narrow, "%07X", 0xBEEFu), 7);
  EXPECT_STREQ(narrow, "000BEEF");
}

TEST(TextFormat, DecimalTextIsToWstring) {
  EXPECT_EQ(DecimalText(0), L"0");
  EXPECT_EQ(DecimalText(-1234567), L"-1234567");
  EXPECT_EQ(DecimalText(ULLONG_MAX), L"18446744073709551615");
  EXPECT_EQ(DecimalText(static_cast<unsigned short>(65535)), L"65535");
}

}  // namespace
