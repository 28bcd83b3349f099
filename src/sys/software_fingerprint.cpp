#include "sys/software_fingerprint.h"
#include "sys/text_format.h"

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const wchar_t kInternetExplorerKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
const wchar_t kHttpCommandKey[] = L"Software\\Classes\\http\\Shell\\open\\command";
const wchar_t kHttpUserChoiceKey[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\userChoice";
// %windir%\易游网娱平台\uninstall.exe
const wchar_t kCafeUninstaller[] =
    L"%windir%\\\x6613\x6E38\x7F51\x5A31\x5E73\x53F0\\uninstall.exe";

// A security product found by its uninstall entry, or by a key under HKLM.
struct SecurityRow {
  std::uint32_t bit;
  const wchar_t* uninstallEntry;
  const wchar_t* machineKey;
};

const SecurityRow kSecurityRows[] = {
    {0x8000, L"360\x5B89\x5168\x536B\x58EB", nullptr},  // 360安全卫士
    {0x4000, L"\x91D1\x5C71\x536B\x58EB", nullptr},     // 金山卫士
    {0x2000, L"QQPCMgr", nullptr},
    {0x1000, L"360SD", nullptr},
    {0x800, nullptr, L"SOFTWARE\\360softmgr"},
    {0x400, L"360Desktop", nullptr},
    {0x200, L"Kingsoft Internet Security", nullptr},
};

// Internet-cafe management software, by its key under HKLM.
const struct {
  std::uint32_t bit;
  const wchar_t* machineKey;
} kCafeRows[] = {
    {0x80, L"SOFTWARE\\Hintsoft"},
    {0x40, L"SOFTWARE\\Sicent"},
    {0x20, L"SOFTWARE\\Goyoo"},
    {0x10, L"SOFTWARE\\\x676D\x5DDE\x987A\x7F51\x4FE1\x606F\x6280\x672F\x6709\x9650\x516C\x53F8"},  // 杭州顺网信息技术有限公司
};
constexpr std::uint32_t kCafeUninstallerBit = 0x8;

// An installed browser: its uninstall entry, else its App Paths entry (either
// may be absent).
struct BrowserRow {
  std::uint32_t bit;
  const wchar_t* uninstallEntry;
  const wchar_t* appPath;
};

const BrowserRow kBrowserRows[] = {
    {0x80000000, nullptr, L"IEXPLORE.EXE"},
    {0x40000000, nullptr, L"360se.exe"},
    {0x20000000, L"360se6", L"360se6.exe"},
    {0x10000000, L"360Chrome", L"360chrome.exe"},
    {0x8000000, L"SogouExplorer", L"SogouExplorer.exe"},
    {0x4000000, L"liebao", nullptr},
    {0x2000000, L"QQBrowser", L"QQBrowser.exe"},
    {0x1000000, L"Google Chrome", L"chrome.exe"},
    {0x800000, nullptr, L"firefox.exe"},
    {0x400000, L"VexloBrowser", L"vexlobrowser.exe"},
};

// The two 360se rows tell the older browser from 360se6 by "360se6".
enum class Se6 { kAny, kAbsent, kPresent };

// The default browser: a needle in the lower-cased http open command (before
// Vista) or in the lower-cased ProgId of the user's choice (Vista and later).
struct DefaultBrowserRow {
  std::uint32_t bit;
  const wchar_t* commandNeedle;
  const wchar_t* progIdNeedle;
  Se6 se6;
};

const DefaultBrowserRow kDefaultBrowserRows[] = {
    {0x8000, L"\\iexplore.exe", L"ie.", Se6::kAny},
    {0x4000, L"\\360se.exe", L"360se", Se6::kAbsent},
    {0x2000, L"\\360se.exe", L"360se", Se6::kPresent},
    {0x1000, L"\\360chrome.exe", L"360chrome", Se6::kAny},
    {0x800, L"\\sogouexplorer.exe", L"sogouexplorer", Se6::kAny},
    {0x400, L"\\liebao.exe", L"liebao", Se6::kAny},
    {0x200, L"\\qqbrowser.exe", L"qqbrowser", Se6::kAny},
    {0x100, L"\\chrome.exe", L"chromehtml", Se6::kAny},
    {0x80, L"\\firefox.exe", L"firefoxurl", Se6::kAny},
    {0x40, L"\\vexlobrowser.exe", L"vexlobrowserhtml", Se6::kAny},
};

bool Contains(const std::wstring& text, const wchar_t* needle) {
  return text.find(needle) != std::wstring::npos;
}

std::wstring AsciiLower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

// Reads a value; absent reads as empty.
std::wstring ReadOrEmpty(SoftwareProbes& probes, RegistryHive hive, const std::wstring& path,
                         const std::wstring& name) {
  std::wstring value;
  if (!probes.ReadString(hive, path, name, &value)) value.clear();
  return value;
}

bool UninstallEntryPresent(SoftwareProbes& probes, const wchar_t* entry) {
  return !ReadOrEmpty(probes, RegistryHive::kLocalMachine, std::wstring(kUninstallKey) + entry,
                      L"UninstallString")
              .empty();
}

bool AppPathExists(SoftwareProbes& probes, const wchar_t* entry) {
  const std::wstring path =
      ReadOrEmpty(probes, RegistryHive::kLocalMachine, std::wstring(kAppPathsKey) + entry, L"");
  return !path.empty() && probes.FileExists(path);
}

std::uint32_t WindowsVersionBit(int code) {
  switch (code) {
    case 100: return kFingerprintWindowsXp;
    case 110: return kFingerprintWindowsVista;
    case 130: return kFingerprintWindows7;
    case 140: return kFingerprintWindows8;
    default: return 0;
  }
}

std::uint32_t InternetExplorerBit(const std::wstring& version) {
  if (version.empty()) return 0;
  switch (version[0]) {
    case L'6': return kFingerprintIe6;
    case L'7': return kFingerprintIe7;
    case L'8': return kFingerprintIe8;
    default: break;
  }
  // Internet Explorer 10 may report itself as 9.10.
  if (version.compare(0, 2, L"10") == 0 || version.compare(0, 5, L"9.10.") == 0) {
    return kFingerprintIe10;
  }
  return version[0] == L'9' ? kFingerprintIe9 : 0;
}

std::uint32_t DefaultBrowserBit(SoftwareProbes& probes, const OsVersionData& os) {
  const std::wstring userCommand = ReadOrEmpty(probes, RegistryHive::kCurrentUser, kHttpCommandKey, L"");
  // The user's choice by ProgId exists from Vista (NT 6.0) on, including the
  // versions the fingerprint's version code does not list.
  const bool byProgId = os.queried && os.platformId == kOsPlatformNt && os.major >= 6;
  std::wstring text;
  if (byProgId) {
    text = ReadOrEmpty(probes, RegistryHive::kCurrentUser, kHttpUserChoiceKey, L"Progid");
  } else {
    text = !userCommand.empty()
               ? userCommand
               : ReadOrEmpty(probes, RegistryHive::kLocalMachine, kHttpCommandKey, L"");
  }
  text = AsciiLower(text);
  // With a ProgId, 360se6 shows only in the user's command, as it is written.
  const bool se6 = byProgId ? Contains(userCommand, L"360se6") : Contains(text, L"360se6");
  for (const DefaultBrowserRow& row : kDefaultBrowserRows) {
    if (!Contains(text, byProgId ? row.progIdNeedle : row.commandNeedle)) continue;
    if ((row.se6 == Se6::kAbsent && se6) || (row.se6 == Se6::kPresent && !se6)) continue;
    return row.bit;
  }
  return 0;
}

}  // namespace

int FingerprintVersionCode(const OsVersionData& v) {
  if (!v.queried || v.platformId != kOsPlatformNt) return 0;
  const bool workstation = v.productType == kOsProductWorkstation;
  if (v.major == 5) {
    if (v.minor == 1) return 100;
    return v.minor == 2 && !workstation ? 104 : 0;
  }
  if (v.major == 6) {
    if (v.minor == 0) return workstation ? 110 : 120;
    if (v.minor == 1) return workstation ? 130 : 123;
    return v.minor == 2 && workstation ? 140 : 0;
  }
  return v.major == 7 ? 140 : 0;
}

FingerprintWords ComputeFingerprint(SoftwareProbes& probes) {
  FingerprintWords words;
  const OsVersionData os = probes.QueryOsVersion();
  words.environment |= WindowsVersionBit(FingerprintVersionCode(os));
  words.environment |=
      InternetExplorerBit(ReadOrEmpty(probes, RegistryHive::kLocalMachine, kInternetExplorerKey, L"Version"));

  for (const SecurityRow& row : kSecurityRows) {
    const bool found = row.uninstallEntry != nullptr
                           ? UninstallEntryPresent(probes, row.uninstallEntry)
                           : probes.KeyExists(RegistryHive::kLocalMachine, row.machineKey);
    if (found) words.environment |= row.bit;
  }

  for (const BrowserRow& row : kBrowserRows) {
    const bool found = (row.uninstallEntry != nullptr && UninstallEntryPresent(probes, row.uninstallEntry)) ||
                       (row.appPath != nullptr && AppPathExists(probes, row.appPath));
    if (found) words.browsers |= row.bit;
  }

  words.browsers |= DefaultBrowserBit(probes, os);

  for (const auto& row : kCafeRows) {
    if (probes.KeyExists(RegistryHive::kLocalMachine, row.machineKey)) words.environment |= row.bit;
  }
  std::wstring uninstaller;
  if (probes.ExpandEnvironment(kCafeUninstaller, &uninstaller) && probes.FileExists(uninstaller)) {
    words.environment |= kCafeUninstallerBit;
  }
  return words;
}

std::wstring FormatFingerprint(const FingerprintWords& words) {
  return DecimalText(words.environment) + L"-" + DecimalText(words.browsers);
}
