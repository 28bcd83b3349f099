#include "app/browser_names.h"
#include "sys/text_format.h"

#include <algorithm>
#include <cwchar>

namespace {

// "000%x" of value, of which the rightmost four characters are kept.
std::wstring FourHexDigits(unsigned value) {
  wchar_t text[16] = {};
  FormatWide(text, sizeof(text) / sizeof(text[0]), L"000%x", value);
  const std::wstring digits = text;
  return digits.substr(digits.size() - 4);
}

}  // namespace

BrowserTitles MakeBrowserTitles(TitleForm form, const std::wstring& appData,
                                const std::wstring& user, unsigned long session) {
  BrowserTitles titles;
  titles.slashes = appData +
                   (form == TitleForm::kDetect ? L"/vexlo/zetorabrowser/" : L"/vexlo/zetoraBrowser/") +
                   user;
  titles.backslashes = titles.slashes;
  std::replace(titles.backslashes.begin(), titles.backslashes.end(), L'/', L'\\');
  titles.session = L"zetoraBrowserMsgWnd\\" + DecimalText(session);
  return titles;
}

std::wstring ProductVersionQuery(unsigned language, unsigned codePage) {
  return L"\\StringFileInfo\\" + FourHexDigits(language) + FourHexDigits(codePage) +
         L"\\ProductVersion";
}

std::wstring InstalledExecutablePath(const std::wstring& installDir) {
  if (installDir.empty()) return std::wstring();
  return installDir + L"\\" + kBrowserExecutable;
}
