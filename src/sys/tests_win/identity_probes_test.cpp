// The machine identifier and the software fingerprint over the real system,
// and the fingerprint over registry keys this test writes. Its HKLM and HKCU
// writes go to a scratch key of their own (RegOverridePredefKey), so the
// prefix the other tests share keeps its registry.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "sys/caller_buffer.h"
#include "sys/machine_id_win.h"
#include "sys/software_fingerprint_win.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(IdentityProbes, BothAnswerQuicklyOnTheRealSystem) {
  const DWORD start = GetTickCount();
  const std::wstring machineId = ReadThroughCallerBuffer(QueryMachineIdentifier, 1024);
  const std::wstring fingerprint = ReadThroughCallerBuffer(QuerySoftwareFingerprint, 1024);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_LT(elapsed, 200u);

  // Under Wine: no processor serial, no disk serial, no adapter class
  // entries; the C: volume serial.
  EXPECT_TRUE(std::regex_match(Narrow(machineId),
                               std::regex("C_[0-9A-F]+-D_[-_.~%+0-9A-Za-z]+-M_[0-9A-F]+-V_[0-9A-F]{8}")))
      << Narrow(machineId);
  EXPECT_TRUE(std::regex_match(Narrow(fingerprint), std::regex("[0-9]+-[0-9]+")))
      << Narrow(fingerprint);

  // The protocol at exactly the identifier's length.
  std::uint32_t size = static_cast<std::uint32_t>(machineId.size());
  std::wstring buffer(size + 1, L'#');
  EXPECT_EQ(QueryMachineIdentifier(&buffer[0], &size), kCallerBufferTooSmall);
  EXPECT_EQ(size, machineId.size() + 1025);
  size = static_cast<std::uint32_t>(machineId.size() + 1);
  EXPECT_EQ(QueryMachineIdentifier(&buffer[0], &size), kCallerBufferCopied);
  EXPECT_EQ(std::wstring(buffer.c_str()), machineId);
}

// HKLM and HKCU of this process redirected to fresh keys under a scratch
// key, removed again at the end.
class RedirectedRegistry {
 public:
  RedirectedRegistry() {
    scratch_ = L"Software\\ZetoraTest\\identity" + std::to_wstring(GetCurrentProcessId());
    machine_ = Create(HKEY_CURRENT_USER, scratch_ + L"\\HKLM");
    user_ = Create(HKEY_CURRENT_USER, scratch_ + L"\\HKCU");
    ok_ = machine_ && user_ && RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_) == ERROR_SUCCESS &&
          RegOverridePredefKey(HKEY_CURRENT_USER, user_) == ERROR_SUCCESS;
  }
  ~RedirectedRegistry() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (machine_) RegCloseKey(machine_);
    if (user_) RegCloseKey(user_);
    SHDeleteKeyW(HKEY_CURRENT_USER, scratch_.c_str());
  }
  bool ok() const { return ok_; }

  // Writes a string value of exactly the given characters; no terminator is
  // stored unless the text holds one.
  static bool Write(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    HKEY key = Create(root, path);
    if (!key) return false;
    const LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                       static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
  }
  static HKEY Create(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
                   ERROR_SUCCESS
               ? key
               : nullptr;
  }

 private:
  std::wstring scratch_;
  HKEY machine_ = nullptr;
  HKEY user_ = nullptr;
  bool ok_ = false;
};

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

TEST(IdentityProbes, FingerprintOverKeysWrittenForTheTest) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  // %windir%\易游网娱平台\uninstall.exe, made for the test and removed after it.
  wchar_t windir[MAX_PATH] = {};
  GetWindowsDirectoryW(windir, MAX_PATH);
  const std::wstring cafeDir = std::wstring(windir) + L"\\\x6613\x6E38\x7F51\x5A31\x5E73\x53F0";
  const std::wstring cafeFile = cafeDir + L"\\uninstall.exe";
  CreateDirectoryW(cafeDir.c_str(), nullptr);
  CloseHandle(CreateFileW(cafeFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  FingerprintWords words;
  {
    RedirectedRegistry registry;
    ASSERT_TRUE(registry.ok());
    const HKEY lm = HKEY_LOCAL_MACHINE;
    ASSERT_TRUE(registry.Write(lm, L"SOFTWARE\\Microsoft\\Internet Explorer", L"Version", L"9.10.9200.16384"));
    // Longer than any fixed read buffer: present (0x2000).
    ASSERT_TRUE(registry.Write(lm, kUninstall + std::wstring(L"QQPCMgr"), L"UninstallString",
                               L"C:\\" + std::wstring(2000, L'q') + L".exe"));
    // 512 characters with no stored terminator: present (0x4000, 金山卫士).
    ASSERT_TRUE(registry.Write(lm, kUninstall + std::wstring(L"\x91D1\x5C71\x536B\x58EB"),
                               L"UninstallString", std::wstring(512, L'k')));
    // Empty: absent (0x1000 stays clear).
    ASSERT_TRUE(registry.Write(lm, kUninstall + std::wstring(L"360SD"), L"UninstallString", L""));
    ASSERT_TRUE(registry.Write(lm, L"SOFTWARE\\Sicent", L"x", L"1"));  // 0x40
    ASSERT_TRUE(registry.Write(lm, kAppPaths + std::wstring(L"chrome.exe"), nullptr, self));  // 0x1000000
    ASSERT_TRUE(registry.Write(lm, kAppPaths + std::wstring(L"firefox.exe"), nullptr,
                               L"C:\\no such folder\\firefox.exe"));
    ASSERT_TRUE(registry.Write(HKEY_CURRENT_USER,
                               L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\"
                               L"http\\userChoice",
                               L"Progid", L"ChromeHTML"));
    Win32SoftwareProbes probes;
    words = ComputeFingerprint(probes);
  }
  DeleteFileW(cafeFile.c_str());
  RemoveDirectoryW(cafeDir.c_str());

  // The Windows version bits are whatever the prefix reports.
  EXPECT_EQ(words.environment & 0x0FFFFFFF, kFingerprintIe10 | 0x2000u | 0x4000 | 0x40 | 0x8);
  const OsVersionData os = Win32SoftwareProbes().QueryOsVersion();
  ASSERT_GE(os.major, 6u);  // the ProgId is read
  EXPECT_EQ(words.browsers, 0x1000000u | 0x100);
}

}  // namespace
