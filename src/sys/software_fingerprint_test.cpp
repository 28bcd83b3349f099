// The fingerprint's rules over a recorded registry, file system and version.
#include "sys/software_fingerprint.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

namespace {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const std::wstring kHttpCommand = L"Software\\Classes\\http\\Shell\\open\\command";
const std::wstring kUserChoice =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\userChoice";
constexpr RegistryHive kLm = RegistryHive::kLocalMachine;
constexpr RegistryHive kCu = RegistryHive::kCurrentUser;

OsVersionData Nt(unsigned major, unsigned minor, bool workstation) {
  OsVersionData v;
  v.queried = true;
  v.platformId = kOsPlatformNt;
  v.major = major;
  v.minor = minor;
  v.productType = workstation ? kOsProductWorkstation : 3;
  return v;
}

class FakeSoftwareProbes : public SoftwareProbes {
 public:
  OsVersionData QueryOsVersion() override { return os; }
  bool KeyExists(RegistryHive hive, const std::wstring& path) override {
    return keys.count({hive, path}) != 0;
  }
  bool ReadString(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                  std::wstring* value) override {
    auto found = values.find(std::make_tuple(hive, path, name));
    if (found == values.end()) return false;
    *value = found->second;
    return true;
  }
  bool FileExists(const std::wstring& path) override { return files.count(path) != 0; }
  bool ExpandEnvironment(const std::wstring& text, std::wstring* expanded) override {
    if (text.compare(0, 8, L"%windir%") != 0) return false;
    *expanded = L"C:\\Windows" + text.substr(8);
    return true;
  }

  void Uninstall(const std::wstring& entry, const std::wstring& command) {
    values[std::make_tuple(kLm, kUninstall + entry, L"UninstallString")] = command;
  }
  void AppPath(const std::wstring& entry, const std::wstring& path, bool exists) {
    values[std::make_tuple(kLm, kAppPaths + entry, L"")] = path;
    if (exists) files.insert(path);
  }
  void Set(RegistryHive hive, const std::wstring& path, const std::wstring& name,
           const std::wstring& value) {
    values[std::make_tuple(hive, path, name)] = value;
  }

  OsVersionData os;
  std::set<std::pair<RegistryHive, std::wstring>> keys;
  std::map<std::tuple<RegistryHive, std::wstring, std::wstring>, std::wstring> values;
  std::set<std::wstring> files;
};

TEST(SoftwareFingerprint, VersionCodeAndItsBit) {
  const struct {
    OsVersionData os;
    int code;
    std::uint32_t bit;
  } cases[] = {
      {Nt(5, 1, true), 100, kFingerprintWindowsXp},
      {Nt(5, 2, false), 104, 0},  // Server 2003
      {Nt(5, 2, true), 0, 0},
      {Nt(6, 0, true), 110, kFingerprintWindowsVista},
      {Nt(6, 0, false), 120, 0},
      {Nt(6, 1, true), 130, kFingerprintWindows7},
      {Nt(6, 1, false), 123, 0},  // Server 2008 R2
      {Nt(6, 2, true), 140, kFingerprintWindows8},
      {Nt(6, 2, false), 0, 0},
      {Nt(6, 3, true), 0, 0},
      {Nt(7, 0, false), 140, kFingerprintWindows8},
      {Nt(10, 0, true), 0, 0},
      {Nt(4, 0, true), 0, 0},
      {OsVersionData(), 0, 0},  // the query failed
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FingerprintVersionCode(c.os), c.code) << c.os.major << "." << c.os.minor;
    FakeSoftwareProbes probes;
    probes.os = c.os;
    EXPECT_EQ(ComputeFingerprint(probes).environment, c.bit) << c.os.major << "." << c.os.minor;
  }
}

TEST(SoftwareFingerprint, InternetExplorerVersion) {
  const struct {
    const wchar_t* version;
    std::uint32_t bit;
  } cases[] = {
      {L"6.0.2900.5512", kFingerprintIe6},   {L"7.0.5730.13", kFingerprintIe7},
      {L"8.0.7601.17514", kFingerprintIe8},  {L"9.0.8112.16421", kFingerprintIe9},
      {L"9.10.9200.16384", kFingerprintIe10}, {L"10.0.9200.16384", kFingerprintIe10},
      {L"9.11.9600.17843", kFingerprintIe9}, {L"11.0", 0},
      {L"5.5", 0},                           {L"", 0},
  };
  for (const auto& c : cases) {
    FakeSoftwareProbes probes;
    probes.Set(kLm, L"SOFTWARE\\Microsoft\\Internet Explorer", L"Version", c.version);
    EXPECT_EQ(ComputeFingerprint(probes).environment, c.bit) << c.version;
  }
}

TEST(SoftwareFingerprint, SecurityAndCafeSoftware) {
  FakeSoftwareProbes probes;
  probes.Uninstall(L"360\x5B89\x5168\x536B\x58EB", L"C:\\360\\uninst.exe");  // 0x8000
  probes.Uninstall(L"\x91D1\x5C71\x536B\x58EB", L"");  // empty: does not count (0x4000)
  probes.Uninstall(L"360SD", L"x");                        // 0x1000
  probes.keys.insert({kLm, L"SOFTWARE\\360softmgr"});       // 0x800
  probes.Uninstall(L"Kingsoft Internet Security", L"x");   // 0x200
  probes.keys.insert({kLm, L"SOFTWARE\\Sicent"});           // 0x40
  probes.keys.insert({kCu, L"SOFTWARE\\Goyoo"});            // not HKLM: 0x20 stays clear
  probes.files.insert(L"C:\\Windows\\\x6613\x6E38\x7F51\x5A31\x5E73\x53F0\\uninstall.exe");  // 0x8
  EXPECT_EQ(ComputeFingerprint(probes).environment, 0x8000u | 0x1000 | 0x800 | 0x200 | 0x40 | 0x8);

  FakeSoftwareProbes cafes;
  cafes.keys.insert({kLm, L"SOFTWARE\\Hintsoft"});
  cafes.keys.insert({kLm, L"SOFTWARE\\Goyoo"});
  cafes.keys.insert({kLm, L"SOFTWARE\\\x676D\x5DDE\x987A\x7F51\x4FE1\x606F\x6280\x672F\x6709\x9650\x516C\x53F8"});
  cafes.Uninstall(L"QQPCMgr", L"x");
  cafes.Uninstall(L"360Desktop", L"x");
  EXPECT_EQ(ComputeFingerprint(cafes).environment, 0x80u | 0x20 | 0x10 | 0x2000 | 0x400);
}

TEST(SoftwareFingerprint, InstalledBrowsers) {
  FakeSoftwareProbes probes;
  probes.AppPath(L"IEXPLORE.EXE", L"C:\\ie\\iexplore.exe", true);         // 0x80000000
  probes.AppPath(L"360se.exe", L"C:\\gone\\360se.exe", false);            // missing file
  probes.Uninstall(L"360se6", L"");                                       // empty, and no App Paths
  probes.AppPath(L"360chrome.exe", L"C:\\360c\\360chrome.exe", true);     // 0x10000000 by App Paths
  probes.Uninstall(L"liebao", L"x");                                      // 0x4000000
  probes.Uninstall(L"Google Chrome", L"C:\\chrome\\setup.exe --uninstall");  // 0x1000000
  probes.AppPath(L"firefox.exe", L"", true);                              // empty path
  probes.Uninstall(L"VexloBrowser", L"x");                                // 0x400000
  EXPECT_EQ(ComputeFingerprint(probes).browsers,
            0x80000000u | 0x10000000 | 0x4000000 | 0x1000000 | 0x400000);

  FakeSoftwareProbes others;
  others.AppPath(L"SogouExplorer.exe", L"C:\\s\\SogouExplorer.exe", true);  // 0x8000000
  others.Uninstall(L"QQBrowser", L"x");                                     // 0x2000000
  others.AppPath(L"firefox.exe", L"C:\\ff\\firefox.exe", true);             // 0x800000
  others.AppPath(L"360se.exe", L"C:\\se\\360se.exe", true);                 // 0x40000000
  others.AppPath(L"liebao.exe", L"C:\\lb\\liebao.exe", true);  // liebao counts only by uninstall entry
  EXPECT_EQ(ComputeFingerprint(others).browsers, 0x40000000u | 0x8000000 | 0x2000000 | 0x800000);
}

TEST(SoftwareFingerprint, DefaultBrowser) {
  const std::wstring chromeCommand =
      L"\"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe\" -- \"%1\"";
  const std::wstring se6Command = L"\"C:\\Program Files\\360\\360se6\\Application\\360se.exe\" \"%1\"";
  const struct {
    const char* name;
    OsVersionData os;
    std::wstring userCommand;
    std::wstring machineCommand;
    std::wstring progId;
    std::uint32_t bit;
  } cases[] = {
      {"7 Chrome ProgId", Nt(6, 1, true), L"", L"", L"ChromeHTML", 0x100},
      {"XP Chrome command", Nt(5, 1, true), chromeCommand, L"", L"", 0x100},
      {"XP machine command when the user's is empty", Nt(5, 1, true), L"",
       L"C:\\PROGRA~1\\MOZILL~1\\FIREFOX.EXE -url \"%1\"", L"ChromeHTML", 0x80},
      {"XP ignores the ProgId", Nt(5, 1, true), L"", L"", L"ChromeHTML", 0},
      {"XP 360se6 command", Nt(5, 1, true), se6Command, L"", L"", 0x2000},
      {"XP older 360se command", Nt(5, 1, true), L"C:\\360\\360se.exe %1", L"", L"", 0x4000},
      {"XP 360chrome is not chrome", Nt(5, 1, true), L"D:\\360Chrome\\360chrome.exe", L"", L"",
       0x1000},
      {"7 360se ProgId with 360se6 command", Nt(6, 1, true), se6Command, L"", L"360SeURL", 0x2000},
      {"7 360se ProgId, the 360se6 test is case-sensitive", Nt(6, 1, true),
       L"C:\\360SE6\\360se.exe", L"", L"360SeURL", 0x4000},
      {"360se wins over the later rows", Nt(6, 1, true), L"", L"", L"360seChromeHTML", 0x4000},
      {"IE ProgId", Nt(6, 0, true), L"", L"", L"IE.HTTP", 0x8000},
      {"Sogou", Nt(6, 1, true), L"", L"", L"SogouExplorerHTML", 0x800},
      {"liebao", Nt(6, 1, true), L"", L"", L"LiebaoHTML", 0x400},
      {"QQBrowser", Nt(6, 1, true), L"", L"", L"QQBrowser.Protocol", 0x200},
      {"Firefox", Nt(6, 0, false), L"", L"", L"FirefoxURL-308046B0AF4A39CB", 0x80},
      {"own browser", Nt(6, 1, true), L"", L"", L"VexloBrowserHTML", 0x40},
      {"Windows 10 reads the ProgId", Nt(10, 0, true), L"C:\\ff\\firefox.exe -url %1", L"",
       L"ChromeHTML", 0x100},
      {"Windows 8.1 reads the ProgId", Nt(6, 3, true), L"", L"", L"FirefoxURL", 0x80},
      {"unknown ProgId", Nt(6, 1, true), L"", L"", L"http", 0},
  };
  for (const auto& c : cases) {
    FakeSoftwareProbes probes;
    probes.os = c.os;
    probes.Set(kCu, kHttpCommand, L"", c.userCommand);
    probes.Set(kLm, kHttpCommand, L"", c.machineCommand);
    probes.Set(kCu, kUserChoice, L"Progid", c.progId);
    EXPECT_EQ(ComputeFingerprint(probes).browsers, c.bit) << c.name;
  }
}

TEST(SoftwareFingerprint, Text) {
  FakeSoftwareProbes nothing;
  EXPECT_EQ(FormatFingerprint(ComputeFingerprint(nothing)), L"0-0");
  EXPECT_EQ(FormatFingerprint({0xA0000000u, 0x80000100u}), L"2684354560-2147483904");
}

}  // namespace
