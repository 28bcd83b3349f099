// The string table resource and the override file on disk.
#include <windows.h>

#include <gtest/gtest.h>

#include "screens/string_table.h"
#include "test_folder.h"

namespace {

TEST(StringTableWinTest, ResourceTextsAndOverrideFile) {
  dui::test_folder folder(L"zetora_strings");
  EXPECT_FALSE(LoadStringConfig(folder.path() + L"StringConfig.xml"));
  std::wstring text;
  LookupString(&text, 180);
  EXPECT_EQ(text, L"\u6B63\u5728\u4E0B\u8F7Dzetora\u6D4F\u89C8\u5668...");
  LookupString(&text, 206);
  EXPECT_EQ(text, L"zetora\u6D4F\u89C8\u5668  \u4E0B\u8F7D\u6587\u4EF6\u51FA\u9519\uFF0C\u8BF7\u91CD\u8BD5");
  LookupString(&text, 210);
  EXPECT_EQ(text.size(), 18u);

  const std::wstring path = folder.path() + L"StringConfig.xml";
  const char xml[] = "\xEF\xBB\xBF<StringConfig><s id=\"IDC_STRING_DOWNLOADING\">\xE4\xB8\x8B</s></StringConfig>";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, xml, sizeof xml - 1, &written, nullptr);
  CloseHandle(file);
  EXPECT_TRUE(LoadStringConfig(path));
  LookupString(&text, 180);
  EXPECT_EQ(text, L"\u4E0B");
  LookupString(&text, 177);
  EXPECT_EQ(text, L"");
  EXPECT_FALSE(LoadStringConfig(L""));
}

}  // namespace
