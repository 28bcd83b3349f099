// A stand-in for the Zetora browser program, for the demo and the tests. It
// shows itself the way the browser does to other programs: message-only
// windows with the browser's class and title forms, a named exit event set
// when it exits, optionally its top-level window. How it answers an exit
// request is chosen by its settings, and it logs what it received, so a test
// can tell a clean exit (its own exit code) from being ended (code 0).
//
// The names are written out here on purpose rather than shared with the
// installer: they belong to the browser, and a misspelt name on either side
// must make the tests fail.
//
// Settings, "key=value" separated by ";" or line breaks: first from the file
// demo_browser_settings.txt beside the executable, then from the environment
// variable ZETORA_DEMO_BROWSER, whose values win.
//   role=main|companion        which browser process this is (main)
//   title=slashes|backslashes|session|none
//                              title of the message window (session)
//   exit_event=1|0             create the exit event (1)
//   on_exit_request=obey|ignore|late|no_event
//                              answer to message 0x464 (obey)
//   late_ms=N                  delay of "late" (2000)
//   top=normal|minimized|none  the top-level window (normal)
//   exit_code=N                exit code of a clean exit (7)
//   lifetime_ms=N              exit on its own after N ms; 0 never (0)
//   log=PATH                   the log (demo_browser.log beside the executable)
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

const unsigned kExitRequest = 0x464;
const wchar_t kTopLevelClass[] = L"{7597C4B1-F62C-4e83-A35F-8B69C8779DC1}";

struct Role {
  const wchar_t* windowClass;
  const wchar_t* exitEvent;
};
const Role kMainRole = {
    L"ZetoraBrowser_MessageWindow",
    L"Local\\zetoraBrowserMainProcessExit!77B54CAA-FDAD-47d7-92D8-3C7A007DA7C6"};
const Role kCompanionRole = {
    L"zetoraBrowserDoctor_MessageWindow",
    L"Local\\zetoraBrowserDoctorProcessExit!5FDE4C07-4C40-4495-AA4D-C3525D43CB17"};

using Settings = std::map<std::wstring, std::wstring>;

struct Browser {
  Settings settings;
  std::wstring logPath;
  HANDLE exitEvent = nullptr;
  bool setEventOnExit = true;
  int exitCode = 7;
  UINT_PTR lateTimer = 0;
  UINT_PTR lifetimeTimer = 0;
};
Browser g_browser;

std::wstring Setting(const wchar_t* key, const wchar_t* fallback) {
  auto it = g_browser.settings.find(key);
  return it == g_browser.settings.end() ? fallback : it->second;
}

int NumberSetting(const wchar_t* key, int fallback) {
  auto it = g_browser.settings.find(key);
  return it == g_browser.settings.end() ? fallback : _wtoi(it->second.c_str());
}

void ParseSettings(const std::wstring& text, Settings* settings) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(L";\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring item = text.substr(start, end - start);
    const std::size_t equals = item.find(L'=');
    if (equals != std::wstring::npos) (*settings)[item.substr(0, equals)] = item.substr(equals + 1);
    start = end + 1;
  }
}

std::wstring ExecutableDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring ReadTextFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::wstring();
  std::string bytes(64 * 1024, '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return std::wstring(bytes.begin(), bytes.end());  // the settings are ASCII
}

void Log(const std::wstring& line) {
  HANDLE file = CreateFileW(g_browser.logPath.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text(line.begin(), line.end());
  const std::string record = text + "\r\n";
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
}

[[noreturn]] void Exit(const wchar_t* why) {
  const bool setEvent = g_browser.setEventOnExit && g_browser.exitEvent != nullptr;
  Log(std::wstring(L"exit ") + why + L" code=" + std::to_wstring(g_browser.exitCode) +
      (setEvent ? L" event=set" : L" event=unset"));
  if (setEvent) SetEvent(g_browser.exitEvent);
  ExitProcess(static_cast<UINT>(g_browser.exitCode));
}

std::wstring MessageWindowTitle(const std::wstring& form) {
  wchar_t appData[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
  wchar_t user[256] = {};
  DWORD userChars = 256;
  GetUserNameW(user, &userChars);
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  std::wstring profile = std::wstring(appData) + L"/vexlo/zetorabrowser/" + user;
  if (form == L"slashes") return profile;
  if (form == L"backslashes") {
    for (wchar_t& c : profile) {
      if (c == L'/') c = L'\\';
    }
    return profile;
  }
  return L"zetoraBrowserMsgWnd\\" + std::to_wstring(session);
}

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kExitRequest) {
    const std::wstring answer = Setting(L"on_exit_request", L"obey");
    Log(L"received 0x464");
    if (answer == L"obey") Exit(L"request");
    if (answer == L"no_event") {
      g_browser.setEventOnExit = false;
      Exit(L"request");
    }
    if (answer == L"late" && g_browser.lateTimer == 0) {
      g_browser.lateTimer = SetTimer(nullptr, 0, NumberSetting(L"late_ms", 2000), nullptr);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool CreateMessageWindow(HINSTANCE instance, const Role& role, const std::wstring& title) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &MessageWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = role.windowClass;
  RegisterClassExW(&wc);
  return CreateWindowExW(0, role.windowClass, title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         instance, nullptr) != nullptr;
}

// Closing the browser's window ends the browser.
LRESULT CALLBACK TopLevelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) Exit(L"closed");
  return DefWindowProcW(window, message, wParam, lParam);
}

void CreateTopLevelWindow(HINSTANCE instance, const std::wstring& show) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &TopLevelProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kTopLevelClass;
  RegisterClassExW(&wc);
  HWND window = CreateWindowExW(0, kTopLevelClass, L"Zetora demo browser", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return;
  CreateWindowExW(0, L"STATIC", L"Zetora demo browser", WS_CHILD | WS_VISIBLE, 16, 16, 400, 24,
                  window, nullptr, instance, nullptr);
  ShowWindow(window, show == L"minimized" ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  const std::wstring dir = ExecutableDirectory();
  ParseSettings(ReadTextFile(dir + L"\\demo_browser_settings.txt"), &g_browser.settings);
  wchar_t environment[4096] = {};
  const DWORD chars = GetEnvironmentVariableW(L"ZETORA_DEMO_BROWSER", environment, 4096);
  if (chars > 0 && chars < 4096) ParseSettings(environment, &g_browser.settings);

  g_browser.logPath = Setting(L"log", (dir + L"\\demo_browser.log").c_str());
  g_browser.exitCode = NumberSetting(L"exit_code", 7);
  const Role& role = Setting(L"role", L"main") == L"companion" ? kCompanionRole : kMainRole;
  const std::wstring titleForm = Setting(L"title", L"session");

  if (NumberSetting(L"exit_event", 1) != 0) {
    g_browser.exitEvent = CreateEventW(nullptr, TRUE, FALSE, role.exitEvent);
  }
  bool windowCreated = false;
  std::wstring title;
  if (titleForm != L"none") {
    title = MessageWindowTitle(titleForm);
    windowCreated = CreateMessageWindow(instance, role, title);
  }
  const std::wstring top = Setting(L"top", L"normal");
  if (top != L"none") CreateTopLevelWindow(instance, top);
  const int lifetime = NumberSetting(L"lifetime_ms", 0);
  if (lifetime > 0) g_browser.lifetimeTimer = SetTimer(nullptr, 0, lifetime, nullptr);

  Log(L"start pid=" + std::to_wstring(GetCurrentProcessId()) + L" role=" +
      Setting(L"role", L"main") + L" title=" + titleForm + (windowCreated ? L"" : L" no-window") +
      L" event=" + (g_browser.exitEvent != nullptr ? L"created" : L"none") + L" " + title);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) {
      if (message.wParam == g_browser.lateTimer) Exit(L"late");
      if (message.wParam == g_browser.lifetimeTimer) Exit(L"lifetime");
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  Log(L"received WM_QUIT");
  Exit(L"quit");
}
