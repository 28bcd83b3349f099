#include "app/placeholder_steps.h"

#include "app/config_steps_win.h"
#include "app/install_mode.h"
#include "build_config.h"
#include "sys/diag.h"

PlaceholderSteps::PlaceholderSteps(RunRecorder& recorder, InstallChoice& choice,
                                   const std::wstring& tn)
    : recorder_(recorder),
      choice_(choice),
      tn_(tn),
      serverBase_(ServerBaseUrl(build_config::kConfigHost, build_config::kConfigPort)),
      detection_(&recorder) {}

bool PlaceholderSteps::DownloadConfiguration() {
  return ::DownloadConfiguration(recorder_, serverBase_, tn_, &configPath_, choice_);
}

bool PlaceholderSteps::ParseConfiguration() {
  return ::ParseConfiguration(recorder_, &items_, configPath_);
}

void PlaceholderSteps::BuildFallbackItem() { FallbackItem(recorder_, &items_, serverBase_, tn_); }

std::wstring PlaceholderSteps::FirstItemVersion() {
  return items_.empty() ? std::wstring() : items_[0].version;
}

int PlaceholderSteps::ClassifyInstall(const std::wstring& offeredVersion) {
  return ::ClassifyInstall(recorder_, detection_, offeredVersion);
}

bool PlaceholderSteps::ApplyMode(int mode) { return ::ApplyMode(recorder_, detection_, mode); }

bool PlaceholderSteps::DownloadAttachment() {
  RecordPhase(recorder_, 10, 0, 0);
  const int result = ERROR_NOT_SUPPORTED;
  recorder_.QueueTrace(L"dxm", L"");
  DiagPrintf(L"DownLoadUrlToFile=%d url=%ls file=%ls log=%ls\r\n", result,
             items_.empty() ? L"" : items_[0].attachment.c_str(), L"", L"");
  RecordPhase(recorder_, 11, 5, result);
  return false;
}

void PlaceholderSteps::MakeSetupPath() {
  const ConfigItem item = items_.empty() ? ConfigItem() : items_[0];
  const std::wstring dir = InstallerDirectory() + L"\\" + item.name + L"_" + item.version;
  setupPath_ = dir + L"\\vexlobrowser_setup" + item.name + L"_" + item.version + L".exe";
}

int PlaceholderSteps::DownloadSetup() {
  RecordPhase(recorder_, 12, 0, 0);
  InterlockedExchange(&choice_.downloadPercent, 100);
  recorder_.QueueTrace(L"dstp", L"uef;cks1");
  RecordPhase(recorder_, 13, 1, 1);
  return 0;
}

std::wstring PlaceholderSteps::ReadSetupVersion() {
  return detection_.ReadSetupVersion(setupPath_);
}

bool PlaceholderSteps::LaunchSetup(bool attachmentDownloaded) {
  RecordPhase(recorder_, 16, 0, 0);
  recorder_.QueueTrace(L"rstp", L"stp:0,0,0,0");
  RecordPhase(recorder_, 17, 1, 0);
  return true;
}

bool PlaceholderSteps::IsProductInstalled() { return detection_.IsProductInstalled(); }
