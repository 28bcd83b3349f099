// The installed product: its registered directory, the executable there and
// the version resources of that executable and of a downloaded setup.
#include "app/product_detection_win.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "sys/diag.h"
#include "sys/registry_win.h"

std::wstring DefaultInstallDirectory() {
  wchar_t programFiles[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                              programFiles))) {
    lstrcpyW(programFiles, L"C:\\Program Files");
  }
  return std::wstring(programFiles) + L"\\Vexlo\\ZetoraBrowser";
}

HRESULT ReadProductVersion(const std::wstring& file, std::wstring* version) {
  version->clear();
  if (file.empty()) return E_FAIL;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return E_FAIL;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return E_FAIL;

  void* translation = nullptr;
  UINT translationBytes = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translation,
                      &translationBytes) ||
      translation == nullptr || translationBytes < 2 * sizeof(WORD)) {
    return E_FAIL;
  }
  const WORD* pair = static_cast<const WORD*>(translation);
  const std::wstring query = ProductVersionQuery(pair[0], pair[1]);
  void* text = nullptr;
  UINT chars = 0;
  if (!VerQueryValueW(data.data(), query.c_str(), &text, &chars) || text == nullptr) {
    return E_FAIL;
  }
  // The length may or may not count a terminating zero.
  const wchar_t* value = static_cast<const wchar_t*>(text);
  version->assign(value, wcsnlen(value, chars));
  return S_OK;
}

ProductDetection::ProductDetection(RunRecorder* recorder, const DetectionSettings& settings)
    : recorder_(recorder), settings_(settings) {}

void ProductDetection::Trace(const std::wstring& value) {
  if (recorder_ != nullptr) recorder_->QueueTrace(L"cenv", value);
}

std::wstring ProductDetection::ReadInstallDir() const {
  ScopedRegKey key;
  if (!key.Open(settings_.registryRoot, settings_.productKey.c_str(), KEY_READ)) {
    return std::wstring();
  }
  // Room for MAX_PATH characters and a terminator; a value that does not
  // fit is too long for a usable directory.
  wchar_t buffer[MAX_PATH + 2] = {};
  DWORD type = 0;
  DWORD bytes = (MAX_PATH + 1) * sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), kInstallDirValue, nullptr, &type,
                       reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::wstring();
  }
  // A stored string need not end in a zero.
  buffer[bytes / sizeof(wchar_t)] = L'\0';
  std::wstring dir = buffer;
  if (dir.size() > MAX_PATH) return std::wstring();
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[MAX_PATH + 1] = {};
    const DWORD needed = ExpandEnvironmentStringsW(dir.c_str(), expanded, MAX_PATH + 1);
    if (needed == 0 || needed > MAX_PATH + 1) return std::wstring();
    dir = expanded;
  }
  return dir;
}

std::wstring ProductDetection::InstalledExecutable() const {
  return InstalledExecutablePath(ReadInstallDir());
}

std::wstring ProductDetection::InstalledVersion() const {
  std::wstring version;
  ReadProductVersion(InstalledExecutable(), &version);
  return VersionWithDots(version);
}

bool ProductDetection::IsProductInstalled() {
  Trace(L"ibbe");
  return !InstalledVersion().empty();
}

bool ProductDetection::IsInstalledUpToDate(const std::wstring& offered) {
  Trace(L"inbbe");
  const std::wstring installed = InstalledVersion();
  DiagPrintf(L"Installed product dir=%ls version=%ls\r\n", ReadInstallDir().c_str(),
             installed.c_str());
  return !installed.empty() && CompareVersions(installed, offered) >= 0;
}

std::wstring ProductDetection::ReadSetupVersion(const std::wstring& setupPath) {
  Trace(L"gsfv");
  std::wstring version;
  ReadProductVersion(setupPath, &version);
  version = VersionWithDots(version);
  Trace(version);
  return version;
}

void ProductDetection::LaunchInstalledBrowser() {
  Trace(L"lbb");
  const std::wstring executable = InstalledExecutable();
  if (executable.empty()) return;  // nothing registered: nothing is started
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = executable.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
}

void ProductDetection::WaitLaunchPoll() { Sleep(settings_.launchPollMs); }
