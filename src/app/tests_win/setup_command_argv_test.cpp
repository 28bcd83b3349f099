// The package's command line read back by the system's own parser: every
// install directory a user can choose arrives as exactly one argument, and
// the options after it stay options.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/setup_command.h"

namespace {

std::vector<std::wstring> Parse(const std::wstring& command) {
  std::vector<std::wstring> arguments;
  int count = 0;
  // A program name first: the parser reads the first argument by other rules.
  LPWSTR* argv = CommandLineToArgvW((L"setup.exe " + command).c_str(), &count);
  if (argv == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

TEST(SetupCommandArgv, EveryDirectoryIsOneArgument) {
  const wchar_t* directories[] = {
      L"D:\\Zetora Browser\\ZetoraBrowser",
      L"D:\\Apps\\ZetoraBrowser\\",
      L"D:\\",
      L"D:\\a\\\\",
      L"\\\\server\\share\\",
      L"C:\\100% sure\\^&|<>\\ZetoraBrowser",
      L"E:\\\x6D4F\x89C8\x5668 \x0444\x0430\x0439\x043B\\ZetoraBrowser",  // 浏览器 файл
      L"F:\\trailing space \\",
  };
  const std::wstring attachment = L"C:\\Users\\u\\AppData\\Roaming\\Vexlo\\ZetoraBrowserInstaller\\abc_\\tnconfig_abc.xml";
  for (const wchar_t* directory : directories) {
    SCOPED_TRACE(testing::Message() << std::string(directory, directory + wcslen(directory)));
    const SetupChoices choices{directory, true, false, true};
    const std::vector<std::wstring> options = {L"-DeskIconState=1", L"-FastIconState=0",
                                               L"-SetDefaultState=1"};

    std::vector<std::wstring> expected = {L"-AutoStart", L"/S", L"##handle=9",
                                          L"-INSTALLDIR=" + std::wstring(directory)};
    expected.insert(expected.end(), options.begin(), options.end());
    EXPECT_EQ(Parse(BuildSetupCommandWithoutAttachment(9, choices)), expected);

    // The attachment's quoted path and the directory are glued into one
    // argument, as the package has always received them.
    expected = {L"-AutoStart", L"/S", L"##handle=7",
                L"-TnConfig=" + attachment + L"-INSTALLDIR=" + directory};
    expected.insert(expected.end(), options.begin(), options.end());
    EXPECT_EQ(Parse(BuildSetupCommandWithAttachment(L"-AutoStart /S -TnConfig=\"tnconfig_abc.xml\"",
                                                    L"tnconfig_abc.xml", attachment, 7, choices)),
              expected);
  }
}

}  // namespace
