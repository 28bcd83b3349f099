#pragma once

#include <string>

// Where the installed browser is registered, and the names its running
// processes are found and signalled by.

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Vexlo\\ZetoraBrowser";
constexpr wchar_t kInstallDirValue[] = L"installDir";
constexpr wchar_t kBrowserExecutable[] = L"zetorabrowser.exe";

// Message-only windows. Class names match without regard to case, so the
// detection and closing spellings of the main class find the same window.
constexpr wchar_t kMainClassDetect[] = L"ZetoraBrowser_MessageWindow";
constexpr wchar_t kMainClassClose[] = L"zetoraBrowser_MessageWindow";
constexpr wchar_t kCompanionClass[] = L"zetoraBrowserDoctor_MessageWindow";
constexpr wchar_t kOtherProductClass[] = L"VexloCloudBox_MessageWindow";

constexpr wchar_t kMainExitEvent[] =
    L"Local\\zetoraBrowserMainProcessExit!77B54CAA-FDAD-47d7-92D8-3C7A007DA7C6";
constexpr wchar_t kCompanionExitEvent[] =
    L"Local\\zetoraBrowserDoctorProcessExit!5FDE4C07-4C40-4495-AA4D-C3525D43CB17";
constexpr wchar_t kOtherProductEvent[] = L"Local\\TvGlowen!533FFF54-54A3-428a-B6AB-D2FE47348C6C";

// The browser's top-level window.
constexpr wchar_t kBrowserTopLevelClass[] = L"{7597C4B1-F62C-4e83-A35F-8B69C8779DC1}";

// Posted to the browser's message windows to ask it to exit.
constexpr unsigned kBrowserExitRequest = 0x464;

// The titles of the browser's message windows for one user.
struct BrowserTitles {
  std::wstring slashes;      // AppData + "/vexlo/zetorabrowser/" + user
  std::wstring backslashes;  // the same with every "/" a "\"
  std::wstring session;      // "zetoraBrowserMsgWnd\<session number>"
};

// The detection form spells the profile folder "zetorabrowser", the closing
// form "zetoraBrowser".
enum class TitleForm { kDetect, kClose };

BrowserTitles MakeBrowserTitles(TitleForm form, const std::wstring& appData,
                                const std::wstring& user, unsigned long session);

// The version-resource query of the ProductVersion string for a translation
// pair: "\StringFileInfo\" + language and code page as four hexadecimal
// digits each (0x804, 0x4b0 give "080404b0") + "\ProductVersion".
std::wstring ProductVersionQuery(unsigned language, unsigned codePage);

// installDir + "\zetorabrowser.exe"; empty for an empty directory, which
// means the product is not installed (never a path at the drive root).
std::wstring InstalledExecutablePath(const std::wstring& installDir);
