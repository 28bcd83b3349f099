// Process entry: single-instance guard, channel identifier and run tag,
// switches, statistics start, then the user interface (the screens) and the
// driver.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/driver_messages.h"
#include "app/embedded_channel_win.h"
#include "app/install_driver.h"
#include "app/installer_steps_win.h"
#include "app/process_recorder.h"
#include "app/ui_context.h"
#include "app/ui_thread.h"
#include "build_config.h"
#include "screens/screen_controller_win.h"
#include "stat/cstat.h"
#include "app/stat_recorder.h"
#include "stat/stat_reporter.h"
#include "sys/diag.h"
#include "sys/dll_search_win.h"
#include "sys/scoped_handle_win.h"

namespace {

const wchar_t kSingleInstanceMutex[] = L"{6507DC81-9E7D-4766-8DEE-ACC3DFF3B325}";

std::vector<std::wstring> CommandLineArguments() {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return arguments;
}

ChannelAndTag ReadChannelAndTag(const std::vector<std::wstring>& arguments) {
  std::string embedded;
  ReadEmbeddedChannel(GetModuleHandleW(nullptr), &embedded);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t fileTime =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ResolveChannelAndTag(arguments, Cp936ToWide(embedded), fileTime);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showMode) {
  // Before anything else can load a DLL.
  RestrictDllSearch();
  DiagInit();

  SetLastError(0);
  // The mutex stays open until the process ends; a second copy closes its own.
  ScopedHandle instanceMutex(CreateMutexW(nullptr, FALSE, kSingleInstanceMutex));
  if (instanceMutex.IsValid() && GetLastError() == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr,
                L"\x4E0B\x8F7D\x5B89\x88C5\x7A0B\x5E8F\x6B63\x5728\x8FD0\x884C\xFF0C"
                L"\x8BF7\x7B49\x5F85\x8FDB\x7A0B\x9000\x51FA",  // 下载安装程序正在运行，请等待进程退出
                L"\x5B89\x88C5\x63D0\x793A",                    // 安装提示
                MB_OK);
    return kExitAnotherCopyRunning;
  }
  // Without a mutex the run goes on unguarded; the handle stays open until exit.

  const std::vector<std::wstring> arguments = CommandLineArguments();
  const CommandLineOptions options = ParseCommandLine(arguments);
  const ChannelAndTag channel = ReadChannelAndTag(arguments);

  CStat& stat = CStat::Instance();
  stat.Initialise(channel.tn, channel.rnd);
  DiagPrintf(L"tn=%ls rnd=%ls\r\n", channel.tn.c_str(), channel.rnd.c_str());
  const std::wstring header = stat.HeaderLine();

  InstallChoice choice;
  InitInstallChoice(&choice);
  choice.silent = options.silent ? 1 : 0;

  // The uploader starts before any other thread reports; without a header no
  // worker runs and the records are only queued.
  StatReporter& reporter = StatReporter::Instance();
  reporter.Start(L"Functionwebinst", header,
                 StatServer{build_config::kStatHost, build_config::kStatPort});
  static StatRecorder recorder(stat, reporter);
  SetProcessRecorder(&recorder);

  // The driver's run ends with the UI thread's end, before this goes.
  ScreenController screens;
  UiContext* context = StartUi(instance, options.bindSoftware, showMode, choice, screens);
  WindowDriverUi ui(context);
  // The options window handle as it is right after the UI start is the one
  // the package gets.
  const HWND optionsWindow = context != nullptr ? context->optionsWindow : nullptr;
  InstallerSteps steps(recorder, choice, channel.tn, optionsWindow, ProductTrustCheck(recorder),
                         ProductPackageStarter());
  InstallDriver driver(steps, ui, recorder);
  const int endReason = driver.Run();
  return ExitCodeFor(endReason, driver.installed());
}
