#include "screens/string_table.h"

#include <gtest/gtest.h>

namespace {

std::wstring FromResource(unsigned id) { return L"res" + std::to_wstring(id); }

TEST(StringTableTest, OverrideFileCases) {
  struct Case {
    const char* xml;
    bool loaded;
    unsigned id;
    const wchar_t* text;
  };
  const Case cases[] = {
      // No file (empty text): every lookup falls back to the resource table.
      {"", false, 180, L"res180"},
      {"<StringConfig/>", false, 180, L"res180"},
      {"<Other><s id=\"IDC_STRING_DOWNLOADING\">x</s></Other>", false, 180, L"res180"},
      // Only the names in the file are used; all others are blank.
      {"<StringConfig><s id=\"IDC_STRING_DOWNLOADING\">\xE4\xB8\x8B\xE8\xBD\xBD</s></StringConfig>",
       true, 180, L"\u4E0B\u8F7D"},
      {"<StringConfig><s id=\"IDC_STRING_DOWNLOADING\">x</s></StringConfig>", true, 177, L""},
      // The first of two equal names wins.
      {"<StringConfig><a id=\"IDS_STRING_UNKNOWN\">u</a><a id=\"IDS_STRING_ERROR_UNKNOWN\">one</a>"
       "<b id=\"IDS_STRING_ERROR_UNKNOWN\">two</b></StringConfig>",
       true, 209, L"one"},
      // Entries without "id" are skipped; one without text overrides with "".
      {"<StringConfig><s>lost</s><s id=\"IDS_STRING_BUTTON_SURFNOW\"/></StringConfig>", true, 175, L""},
      {"<StringConfig><s>lost</s></StringConfig>", false, 175, L"res175"},
      // Id 210 has no symbolic name: never overridden, blank once a file is in force.
      {"<StringConfig><s id=\"IDS_STRING_BUTTON_SURFNOW\">a</s></StringConfig>", true, 210, L""},
  };
  for (const Case& c : cases) {
    StringOverrides overrides;
    EXPECT_EQ(overrides.Load(c.xml), c.loaded) << c.xml;
    EXPECT_EQ(overrides.loaded(), c.loaded) << c.xml;
    EXPECT_EQ(overrides.Lookup(c.id, FromResource), c.text) << c.xml;
  }
}

TEST(StringTableTest, SymbolicNames) {
  EXPECT_EQ(StringIdFromName(L"IDS_STRING_BUTTON_ONEKEYSETUP"), 174u);
  EXPECT_EQ(StringIdFromName(L"IDC_STRING_TIPS_NORUNNING_UPDATE"), 181u);
  EXPECT_EQ(StringIdFromName(L"IDS_STRING_ERROR_UNKNOWN"), 209u);
  EXPECT_EQ(StringIdFromName(L"ids_string_error_unknown"), 0u);
  EXPECT_EQ(StringIdFromName(L""), 0u);
}

}  // namespace
