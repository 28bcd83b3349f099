#include "app/setup_command.h"
#include "sys/text_format.h"

namespace {

std::wstring ChoicesText(const SetupChoices& choices) {
  return L"-INSTALLDIR=\"" + QuotedArgumentBody(choices.installDirectory) + L"\" -DeskIconState=" +
         (choices.desktopShortcut ? L"1" : L"0") + L" -FastIconState=" +
         (choices.quickLaunch ? L"1" : L"0") + L" -SetDefaultState=" +
         (choices.defaultBrowser ? L"1" : L"0");
}

}  // namespace

std::wstring QuotedArgumentBody(const std::wstring& value) {
  std::wstring out;
  std::size_t backslashes = 0;
  for (wchar_t c : value) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      // Backslashes before a quote are doubled, and the quote escaped.
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  // Before the closing quote: doubled, or they would escape it.
  out.append(backslashes * 2, L'\\');
  return out;
}

std::wstring ReplaceAll(const std::wstring& text, const std::wstring& from,
                        const std::wstring& to) {
  if (from.empty()) return text;
  std::wstring out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t found = text.find(from, start);
    if (found == std::wstring::npos) break;
    out.append(text, start, found - start);
    out += to;
    start = found + from.size();
  }
  out.append(text, start, std::wstring::npos);
  return out;
}

std::wstring BuildSetupCommandWithAttachment(const std::wstring& installCommand,
                                             const std::wstring& attachmentFileName,
                                             const std::wstring& attachmentPath,
                                             std::uint32_t windowHandle,
                                             const SetupChoices& choices) {
  std::wstring command = ReplaceAll(installCommand, attachmentFileName, attachmentPath);
  command = ReplaceAll(command, L"/S ", L"/S ##handle=" + DecimalText(windowHandle) + L" ");
  if (!choices.installDirectory.empty()) command += ChoicesText(choices);
  return command;
}

std::wstring BuildSetupCommandWithoutAttachment(std::uint32_t windowHandle,
                                                const SetupChoices& choices) {
  if (choices.installDirectory.empty()) return std::wstring();
  return L"-AutoStart /S ##handle=" + DecimalText(windowHandle) + L"  " + ChoicesText(choices);
}

std::wstring AttachmentFileName(const std::wstring& itemName) {
  return L"tnconfig_" + itemName + L".xml";
}

std::wstring SetupFileName(const std::wstring& folderPart) {
  return L"vexlobrowser_setup" + folderPart + L".exe";
}

std::wstring AppendRandomParameter(const std::wstring& url, std::uint32_t value) {
  const wchar_t separator = url.find(L'?') == std::wstring::npos ? L'?' : L'&';
  return url + separator + L"rnd=" + DecimalText(value);
}
