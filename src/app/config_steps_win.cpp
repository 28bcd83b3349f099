#include "app/config_steps_win.h"

#include <shlobj.h>

#include <cstdlib>
#include <vector>

#include "app/channel_config.h"
#include "build_config.h"
#include "net/download_control.h"
#include "net/download_to_file.h"
#include "sys/diag.h"
#include "sys/test_setting_win.h"

namespace {

const std::uint32_t kConfigTimeLimitSeconds = 60;
const std::size_t kTraceCapacity = 10240;

// The download trace of a finished control, at most kTraceCapacity - 1
// characters.
std::wstring TraceText(DownloadControl* control) {
  std::vector<wchar_t> buffer(kTraceCapacity, L'\0');
  if (!GetDownloadTrace(control, buffer.data(), buffer.size())) return std::wstring();
  return buffer.data();
}

}  // namespace

std::uint32_t DownloadTimeLimit(const wchar_t* testVariable, std::uint32_t seconds) {
  return TestSettingOr(testVariable, seconds);
}

std::wstring InstallerDirectory() {
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
    appData[0] = L'\0';
  }
  std::wstring dir = appData;
  dir += L"\\Vexlo";
  CreateDirectoryW(dir.c_str(), nullptr);
  dir += L"\\ZetoraBrowserInstaller";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

bool DownloadConfiguration(RunRecorder& recorder, const std::wstring& serverBase,
                           const std::wstring& tn, std::wstring* configPath,
                           InstallChoice& choice) {
  RecordPhase(recorder, phase::kConfigDownloadStarts, phase::kStarted, 0);
  const std::wstring url = BuildConfigUrl(serverBase, tn);
  *configPath = InstallerDirectory() + L"\\vexlobrowser_config";

  DownloadControl* control = CreateDownloadControl(&choice.cancelRequested);
  choice.configDownload = control;
  const std::uint32_t limit =
      DownloadTimeLimit(ZETORA_TEST_VARIABLE("ZETORA_TEST_CONFIG_SECONDS"),
                        kConfigTimeLimitSeconds);
  const int result = DownLoadUrlToFile(control, url, *configPath, limit, 0, 0, nullptr);
  const std::wstring trace = TraceText(control);
  recorder.QueueTrace(L"dcf", trace);
  DestroyDownloadControl(control);
  DiagPrintf(L"DownLoadUrlToFile=%d url=%ls file=%ls log=%ls\r\n", result, url.c_str(),
             configPath->c_str(), trace.c_str());

  if (result == 0) {
    RecordPhase(recorder, phase::kConfigDownloadEnded, phase::kSucceeded, 0);
    return true;
  }
  RecordPhase(recorder, phase::kConfigDownloadEnded, phase::kConfigDownloadFailed, result);
  return false;
}

bool ParseConfiguration(RunRecorder& recorder, ConfigItemList* items,
                        const std::wstring& configPath) {
  RecordPhase(recorder, phase::kConfigParseStarts, phase::kStarted, 0);
  std::wstring picpackUrl;
  ReadChannelConfig(configPath, MakeConfigKey(build_config::kConfigKeyText), &picpackUrl, items,
                    [&recorder](const wchar_t* code) { recorder.QueueTrace(L"pcfg", code); });
  DeleteFileW(configPath.c_str());
  if (!items->empty()) {
    RecordPhase(recorder, phase::kConfigParsed, phase::kSucceeded, 0);
    return true;
  }
  RecordPhase(recorder, phase::kConfigParsed, phase::kNoItemRead, 1);
  return false;
}

void FallbackItem(RunRecorder& recorder, ConfigItemList* items, const std::wstring& serverBase,
                  const std::wstring& tn) {
  RecordPhase(recorder, phase::kFallbackStarts, phase::kStarted, 0);
  items->push_back(MakeFallbackItem(serverBase, tn));
  InstallerDirectory();
  RecordPhase(recorder, phase::kFallbackAdded, phase::kSucceeded, 0);
}
