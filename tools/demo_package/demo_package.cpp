// A stand-in setup package for the demo and the tests. It records the
// command line it received, reports its progress to the window handed over
// after "##handle=" (WM_COPYDATA 10001, 0 to 100 over about two seconds),
// installs the demo browser it carries into the -INSTALLDIR folder, writes
// the product's registration and exits with 0 (after
// ZETORA_DEMO_PACKAGE_HANG_SECONDS, when that is set).
//
// Its log (one line per event, UTF-8) goes to ZETORA_DEMO_PACKAGE_LOG, or
// %TEMP%\zetora-demo-package.log.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

const ULONG_PTR kProgressId = 10001;

std::wstring LogPath() {
  wchar_t path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"ZETORA_DEMO_PACKAGE_LOG", path, MAX_PATH) > 0) return path;
  GetTempPathW(MAX_PATH, path);
  return std::wstring(path) + L"zetora-demo-package.log";
}

void Log(const std::wstring& line) {
  const std::wstring text = line + L"\r\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size,
                      nullptr, nullptr);
  HANDLE file = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The text after key up to the next space (or the end).
bool WordAfter(const std::wstring& text, const std::wstring& key, std::wstring* value) {
  const std::size_t at = text.find(key);
  if (at == std::wstring::npos) return false;
  const std::size_t start = at + key.size();
  *value = text.substr(start, text.find(L' ', start) - start);
  return true;
}

// The quoted text after key (key ends with the opening quote).
bool QuotedAfter(const std::wstring& text, const std::wstring& key, std::wstring* value) {
  const std::size_t at = text.find(key);
  if (at == std::wstring::npos) return false;
  const std::size_t start = at + key.size();
  const std::size_t end = text.find(L'"', start);
  if (end == std::wstring::npos) return false;
  *value = text.substr(start, end - start);
  return true;
}

void SendProgress(HWND window) {
  for (DWORD percent = 0; percent <= 100; percent += 10) {
    DWORD block[2] = {percent, 0};
    COPYDATASTRUCT data = {kProgressId, sizeof(block), block};
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutW(window, WM_COPYDATA, 0,
                                             reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                                             2000, &answer);
    Log(L"progress " + std::to_wstring(percent) + L" sent=" + std::to_wstring(sent != 0 ? 1 : 0) +
        L" error=" + std::to_wstring(sent != 0 ? 0 : GetLastError()));
    if (percent < 100) Sleep(200);
  }
}

bool WriteBrowser(const std::wstring& path) {
  HRSRC found = FindResourceW(nullptr, L"BROWSER", MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return false;
  const DWORD size = SizeofResource(nullptr, found);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

bool Register(const std::wstring& directory) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      RegSetValueExW(key, L"installDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory.c_str()),
                     static_cast<DWORD>((directory.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  const std::wstring arguments = commandLine;
  Log(L"command: " + arguments);

  std::wstring handleText;
  if (WordAfter(arguments, L"##handle=", &handleText)) {
    const HWND window = reinterpret_cast<HWND>(
        static_cast<std::uintptr_t>(wcstoul(handleText.c_str(), nullptr, 10)));
    SendProgress(window);
  }

  std::wstring directory;
  if (QuotedAfter(arguments, L"-INSTALLDIR=\"", &directory) && !directory.empty()) {
    const int created = SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
    const std::wstring browser = directory + L"\\zetorabrowser.exe";
    const bool written = WriteBrowser(browser);
    const bool registered = written && Register(directory);
    Log(L"installed " + browser + L" folder=" + std::to_wstring(created) + L" written=" +
        std::to_wstring(written ? 1 : 0) + L" registered=" + std::to_wstring(registered ? 1 : 0));
  }
  // A package that hangs, for the tests of the installer's bounded wait.
  wchar_t hang[16] = {};
  if (GetEnvironmentVariableW(L"ZETORA_DEMO_PACKAGE_HANG_SECONDS", hang, 16) > 0) {
    Log(L"hanging");
    Sleep(wcstoul(hang, nullptr, 10) * 1000);
  }
  Log(L"exit 0");
  return 0;
}
