#include "app/setup_command.h"

#include <gtest/gtest.h>

#include "app/config_item.h"

namespace {

TEST(SetupCommand, BuildersGiveTheExactCommandLines) {
  const SetupChoices chosen{L"D:\\Zetora Browser", true, false, true};
  const SetupChoices none;
  const ConfigItem fallback = MakeFallbackItem(L"http://dl", L"abc");
  const std::wstring path = L"C:\\Users\\u\\AppData\\Roaming\\Vexlo\\ZetoraBrowserInstaller\\abc_\\tnconfig_abc.xml";
  struct Case {
    std::wstring command, expected;
  };
  const Case cases[] = {
      // The fallback command: the handle after "/S ", the local attachment
      // path, and the options right after the closing quote.
      {BuildSetupCommandWithAttachment(fallback.installcmd, L"tnconfig_abc.xml", path, 65802, chosen),
       L"-AutoStart /S ##handle=65802 -TnConfig=\"" + path +
           L"\"-INSTALLDIR=\"D:\\Zetora Browser\" -DeskIconState=1 -FastIconState=0 -SetDefaultState=1"},
      {BuildSetupCommandWithAttachment(fallback.installcmd, L"tnconfig_abc.xml", path, 7, none),
       L"-AutoStart /S ##handle=7 -TnConfig=\"" + path + L"\""},
      // No "/S " (a bare trailing "/S" included): no handle.
      {BuildSetupCommandWithAttachment(L"-quiet /S", L"x.xml", L"y", 7, none), L"-quiet /S"},
      // Every "/S " gets one; inserted text is not searched again.
      {BuildSetupCommandWithAttachment(L"/S /S a.xml a.xml", L"a.xml", L"a.xml.a.xml", 1, none),
       L"/S ##handle=1 /S ##handle=1 a.xml.a.xml a.xml.a.xml"},
      {BuildSetupCommandWithoutAttachment(9, chosen),
       L"-AutoStart /S ##handle=9  -INSTALLDIR=\"D:\\Zetora Browser\" -DeskIconState=1 "
       L"-FastIconState=0 -SetDefaultState=1"},
      {BuildSetupCommandWithoutAttachment(9, none), L""},
      // A directory ending in a backslash: doubled, so the quote still closes.
      {BuildSetupCommandWithoutAttachment(9, {L"D:\\Apps\\", false, false, false}),
       L"-AutoStart /S ##handle=9  -INSTALLDIR=\"D:\\Apps\\\\\" -DeskIconState=0 "
       L"-FastIconState=0 -SetDefaultState=0"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.command, c.expected);
}

TEST(SetupCommand, QuotedArgumentBodyFollowsTheCommandLineRules) {
  const struct {
    const wchar_t* value;
    const wchar_t* quoted;
  } cases[] = {
      {L"D:\\Zetora Browser", L"D:\\Zetora Browser"},
      {L"D:\\", L"D:\\\\"},
      {L"\\\\server\\share\\\\", L"\\\\server\\share\\\\\\\\"},
      {L"a\"b", L"a\\\"b"},
      {L"a\\\"b", L"a\\\\\\\"b"},
      {L"100%^&", L"100%^&"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuotedArgumentBody(c.value), c.quoted) << c.value;
}

TEST(SetupCommand, NamesAndRandomParameter) {
  EXPECT_EQ(AttachmentFileName(L"Zb"), L"tnconfig_Zb.xml");
  EXPECT_EQ(SetupFileName(L"Zb_1.2.3.4"), L"vexlobrowser_setupZb_1.2.3.4.exe");
  EXPECT_EQ(AppendRandomParameter(L"http://h/g.php?tn=a", 42), L"http://h/g.php?tn=a&rnd=42");
  EXPECT_EQ(AppendRandomParameter(L"http://h/p.exe", 4294967295u), L"http://h/p.exe?rnd=4294967295");
  EXPECT_EQ(ReplaceAll(L"aaa", L"aa", L"b"), L"ba");
  EXPECT_EQ(ReplaceAll(L"abc", L"", L"x"), L"abc");
}

}  // namespace
