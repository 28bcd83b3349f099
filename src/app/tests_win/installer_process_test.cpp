// The real installer executable started as a user would start it: a silent
// run, a windowed run, and a second copy started while the first one runs.
// While a test holds the configuration port, a running copy stays in its
// configuration request; releasing the port answers it 404 and the run goes
// on to its end with the built-in item.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "build_config.h"
#include "sys/testing/test_files_win.h"
#include "sys/testing/test_windows_win.h"

namespace {

std::wstring InstallerPath() { return WinePath(ZETORA_INSTALLER_WIDE_PATH); }

void NotInherited(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

// Listens on the configuration server's loopback port and accepts requests
// without answering them until Release(); from then on every held and later
// request is answered 404 at once, so the installer goes on with its
// built-in item without waiting out the download's time limit.
class ConfigPortHold {
 public:
  ConfigPortHold() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~ConfigPortHold() {
    if (thread_ != nullptr) {
      SetEvent(stop_);
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    CloseHandle(release_);
    CloseHandle(stop_);
    WSACleanup();
  }
  bool Hold() {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(build_config::kConfigPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Another test run on this machine may hold the port for a moment.
    for (int attempt = 0; attempt < 60; ++attempt) {
      listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      // The installers started here must not inherit the port: a copy that
      // holds the listener would keep it open after the test released it.
      if (listener_ != INVALID_SOCKET) NotInherited(listener_);
      if (listener_ != INVALID_SOCKET &&
          bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
          listen(listener_, 8) == 0) {
        thread_ = CreateThread(nullptr, 0, &ConfigPortHold::AcceptLoop, this, 0, nullptr);
        return thread_ != nullptr;
      }
      closesocket(listener_);
      listener_ = INVALID_SOCKET;
      Sleep(500);
    }
    return false;
  }
  // Answers every request 404 from now on.
  void Release() { SetEvent(release_); }

 private:
  static void Answer(SOCKET client) {
    static const char kNotFound[] =
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    send(client, kNotFound, sizeof(kNotFound) - 1, 0);
    shutdown(client, SD_SEND);
    closesocket(client);
  }
  static DWORD WINAPI AcceptLoop(void* parameter) {
    ConfigPortHold* self = static_cast<ConfigPortHold*>(parameter);
    SOCKET held[64];
    int count = 0;
    while (WaitForSingleObject(self->stop_, 0) == WAIT_TIMEOUT) {
      const bool released = WaitForSingleObject(self->release_, 0) == WAIT_OBJECT_0;
      if (released) {
        while (count > 0) Answer(held[--count]);
      }
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(self->listener_, &readable);
      timeval wait = {0, 50000};
      if (select(0, &readable, nullptr, nullptr, &wait) == 1 && count < 64) {
        SOCKET client = accept(self->listener_, nullptr, nullptr);
        if (client != INVALID_SOCKET) {
          NotInherited(client);
          if (released) {
            Answer(client);
          } else {
            held[count++] = client;
          }
        }
      }
    }
    for (int i = 0; i < count; ++i) closesocket(held[i]);
    return 0;
  }

  SOCKET listener_ = INVALID_SOCKET;
  HANDLE release_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
};

// One started copy of the installer with its standard error in a file.
class InstallerRun {
 public:
  explicit InstallerRun(const std::wstring& arguments, const std::wstring& program = InstallerPath())
      : log_(TempFileName(L"zwi")) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE logFile = CreateFileW(log_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = logFile;
    startup.hStdError = logFile;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    started_ = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                              nullptr, &startup, &process_) != 0;
    CloseHandle(logFile);
  }
  ~InstallerRun() {
    if (started_) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
      }
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    DeleteFileW(log_.c_str());
  }
  bool started() const { return started_; }
  DWORD pid() const { return process_.dwProcessId; }
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
  // The exit code, or STILL_ACTIVE when the process did not end in time.
  DWORD WaitExit(DWORD timeoutMs) const {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }
  std::string Log() const { return ReadWholeFile(log_); }
  // Polls until the log contains a text or the time is up.
  bool WaitLog(const char* text, DWORD timeoutMs) const {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
      if (Log().find(text) != std::string::npos) return true;
      Sleep(50);
    }
    return false;
  }

 private:
  std::wstring log_;
  PROCESS_INFORMATION process_ = {};
  bool started_ = false;
};

// A window of the process with the class and, unless title is null, the title.
HWND WaitForWindow(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD timeoutMs) {
  return WaitForWindowMatching(
      [&](HWND window) {
        wchar_t windowClass[64] = {};
        wchar_t text[128] = {};
        GetClassNameW(window, windowClass, 64);
        GetWindowTextW(window, text, 128);
        return WindowProcess(window) == pid && lstrcmpW(windowClass, className) == 0 &&
               (title == nullptr || lstrcmpW(text, title) == 0);
      },
      timeoutMs);
}

const char kSilentEnd[] = "InstallDriver end reason=";

// Nothing serves the package: the run ends with end reason 5, which is also
// its exit code.
TEST(InstallerProcess, SilentRunWalksEveryStateAndExitsWithItsEndReason) {
  ConfigPortHold port;
  ASSERT_TRUE(port.Hold());
  port.Release();
  InstallerRun run(L"/S -tn demo");
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.WaitExit(60000), 5u);
  const std::string log = run.Log();
  EXPECT_NE(log.find("tn=demo rnd="), std::string::npos) << log;
  EXPECT_NE(log.find("Receive user command to install"), std::string::npos) << log;
  EXPECT_NE(log.find(kSilentEnd), std::string::npos) << log;
}

// A Downloads folder holds DLLs named like system DLLs: a copy of the
// installer started there runs to its end without loading any of them.
TEST(InstallerProcess, DllsPlantedBesideTheInstallerAreNeverLoaded) {
  const std::wstring folder = MakeTestDirectory(L"planted");
  const std::wstring program = folder + L"\\ZetoraWebInstaller.exe";
  ASSERT_TRUE(CopyFileW(InstallerPath().c_str(), program.c_str(), FALSE));
  const wchar_t* names[] = {L"version.dll",  L"winmm.dll",   L"gdiplus.dll",  L"riched20.dll",
                            L"wininet.dll",  L"wintrust.dll", L"crypt32.dll", L"iphlpapi.dll",
                            L"msimg32.dll",  L"oleacc.dll"};
  for (const wchar_t* name : names) {
    ASSERT_TRUE(CopyFileW(WinePath(ZETORA_PLANTED_DLL_WIDE_PATH).c_str(), (folder + L"\\" + name).c_str(),
                          FALSE));
  }
  ConfigPortHold port;
  ASSERT_TRUE(port.Hold());
  port.Release();
  {
    InstallerRun run(L"/S -tn planted", program);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.WaitExit(60000), 5u);  // no package: end reason 5
    EXPECT_NE(run.Log().find(kSilentEnd), std::string::npos) << run.Log();
  }
  for (const wchar_t* name : names) {
    EXPECT_EQ(GetFileAttributesW((folder + L"\\" + name + L".loaded").c_str()), INVALID_FILE_ATTRIBUTES)
        << std::string(name, name + wcslen(name)) << " was loaded";
  }
}

TEST(InstallerProcess, SecondCopyShowsTheMessageBoxAndLeavesTheFirstAlone) {
  ConfigPortHold port;
  ASSERT_TRUE(port.Hold());
  InstallerRun first(L"/S -tn first");
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.WaitLog("tn=first", 20000)) << first.Log();

  InstallerRun second(L"/S -tn second");
  ASSERT_TRUE(second.started());
  HWND box = WaitForWindow(second.pid(), L"#32770", L"\x5B89\x88C5\x63D0\x793A", 20000);
  ASSERT_NE(box, nullptr) << "no message box from the second copy";
  EXPECT_TRUE(second.Running());
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(second.WaitExit(20000), 1u);
  EXPECT_EQ(second.Log().find("tn=second"), std::string::npos) << second.Log();

  EXPECT_TRUE(first.Running());
  port.Release();
  EXPECT_EQ(first.WaitExit(60000), 5u);
  EXPECT_NE(first.Log().find(kSilentEnd), std::string::npos) << first.Log();
}

TEST(InstallerProcess, WindowedRunShowsTheOptionsWindowAndCompletes) {
  ConfigPortHold port;
  ASSERT_TRUE(port.Hold());
  InstallerRun run(L"-tn windowed");
  ASSERT_TRUE(run.started());
  // The options window: the skinned dialog titled "zetora浏览器下载组件".
  HWND window = WaitForWindow(run.pid(), L"#32770",
                              L"zetora\x6D4F\x89C8\x5668\x4E0B\x8F7D\x7EC4\x4EF6", 30000);
  ASSERT_NE(window, nullptr) << run.Log();
  // The window is found as soon as it exists; it is shown right after.
  for (int i = 0; i < 200 && !IsWindowVisible(window); ++i) Sleep(50);
  EXPECT_TRUE(IsWindowVisible(window));
  port.Release();
  // Nothing serves the package: the failure window is the run's last
  // window, and closing it ends the run.
  HWND failure = nullptr;
  for (int i = 0; i < 1200 && failure == nullptr; ++i) {
    HWND candidate = WaitForWindow(run.pid(), L"#32770", L"Zetora\x6D4F\x89C8\x5668", 50);
    if (candidate != nullptr && IsWindowVisible(candidate)) failure = candidate;
  }
  ASSERT_NE(failure, nullptr) << run.Log();
  PostMessageW(failure, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(run.WaitExit(60000), 5u);
  const std::string log = run.Log();
  EXPECT_NE(log.find("InstallDriver end reason=5"), std::string::npos) << log;
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
