#include "app/testing/demo_browser_win.h"

#include <shlwapi.h>

#include <cstdio>

#include "app/browser_names.h"
#include "sys/testing/test_files_win.h"

namespace {

const wchar_t kSettingsVariable[] = L"ZETORA_DEMO_BROWSER";

}  // namespace

std::wstring DemoBrowserPath() { return WinePath(ZETORA_DEMO_BROWSER_WIDE_PATH); }

std::wstring MakeInstallDirWithBrowser(const wchar_t* name, std::size_t totalChars) {
  std::wstring dir = MakeTestDirectory(name);
  if (totalChars > dir.size()) {
    dir += L"\\" + std::wstring(totalChars - dir.size() - 1, L'd');
    CreateDirectoryW(dir.c_str(), nullptr);
  }
  CopyFileW(DemoBrowserPath().c_str(), (dir + L"\\" + kBrowserExecutable).c_str(), FALSE);
  return dir;
}

bool WaitForFileText(const std::wstring& path, const std::string& text, DWORD waitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (ReadWholeFile(path).find(text) != std::string::npos) return true;
    if (GetTickCount() - start >= waitMs) return false;
    Sleep(20);
  }
}

DemoBrowserProcess::DemoBrowserProcess() : logPath_(TempFileName(L"zdb")) {}

DemoBrowserProcess::~DemoBrowserProcess() {
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
  }
  DeleteFileW(logPath_.c_str());
}

bool DemoBrowserProcess::Start(const std::wstring& settings, const std::wstring& executable) {
  ScopedBrowserSettings environment(settings + L";log=" + logPath_);
  std::wstring commandLine = L"\"" + executable + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // One start in a loaded test run failed at once (the CI log could not say
  // why); a failed start is reported with its error and tried again.
  constexpr int kStartAttempts = 3;
  constexpr DWORD kRetryPauseMs = 250;
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
      break;
    }
    fwprintf(stderr, L"CreateProcess %ls failed: %lu (attempt %d)\n", executable.c_str(),
             GetLastError(), attempt);
    if (attempt == kStartAttempts) return false;
    Sleep(kRetryPauseMs);
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  if (WaitForFileText(logPath_, "start pid=", 10000)) return true;
  fwprintf(stderr, L"%ls logged no start, exit code %lu\n", executable.c_str(), WaitExit(0));
  return false;
}

DWORD DemoBrowserProcess::WaitExit(DWORD waitMs) {
  DWORD code = STILL_ACTIVE;
  if (process_ != nullptr && WaitForSingleObject(process_, waitMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process_, &code);
  }
  return code;
}

std::string DemoBrowserProcess::Log() const { return ReadWholeFile(logPath_); }

ScopedBrowserSettings::ScopedBrowserSettings(const std::wstring& settings) {
  SetEnvironmentVariableW(kSettingsVariable, settings.c_str());
}

ScopedBrowserSettings::~ScopedBrowserSettings() { SetEnvironmentVariableW(kSettingsVariable, nullptr); }

TestRegistration::TestRegistration(HKEY root, const std::wstring& key) : root_(root), key_(key) {}

TestRegistration::~TestRegistration() { SHDeleteKeyW(root_, key_.c_str()); }

bool TestRegistration::SetInstallDir(const std::wstring& dir) const {
  return SetValue(REG_SZ, dir.c_str(), static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
}

bool TestRegistration::SetValue(DWORD type, const void* data, DWORD bytes) const {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      RegSetValueExW(key, kInstallDirValue, 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void EndRemainingBrowsers() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, kMainClassDetect, nullptr);
    if (window == nullptr) return;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    if (process == nullptr) return;
    TerminateProcess(process, 98);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
}
