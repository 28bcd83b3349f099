#include "app/installer_steps_win.h"

#include <utility>

#include "app/config_steps_win.h"
#include "app/install_mode.h"
#include "build_config.h"
#include "sys/diag.h"

InstallerSteps::InstallerSteps(RunRecorder& recorder, InstallChoice& choice,
                                   const std::wstring& tn, HWND optionsWindow, TrustCheck trusted,
                                   PackageStarter starter)
    : recorder_(recorder),
      choice_(choice),
      tn_(tn),
      serverBase_(ServerBaseUrl(build_config::kConfigHost, build_config::kConfigPort)),
      optionsWindow_(optionsWindow),
      trusted_(std::move(trusted)),
      starter_(std::move(starter)),
      detection_(&recorder) {}

bool InstallerSteps::DownloadConfiguration() {
  return ::DownloadConfiguration(recorder_, serverBase_, tn_, &configPath_, choice_);
}

bool InstallerSteps::ParseConfiguration() {
  return ::ParseConfiguration(recorder_, &items_, configPath_);
}

void InstallerSteps::BuildFallbackItem() { FallbackItem(recorder_, &items_, serverBase_, tn_); }

std::wstring InstallerSteps::FirstItemVersion() {
  return items_.empty() ? std::wstring() : items_[0].version;
}

int InstallerSteps::ClassifyInstall(const std::wstring& offeredVersion) {
  return ::ClassifyInstall(recorder_, detection_, offeredVersion);
}

bool InstallerSteps::ApplyMode(int mode) { return ::ApplyMode(recorder_, detection_, mode); }

bool InstallerSteps::DownloadAttachment() {
  return ::DownloadAttachment(recorder_, &items_, &attachmentPath_, &attachmentFileName_, choice_);
}

void InstallerSteps::MakeSetupPath() { ::MakeSetupPath(&setupPath_, &items_.at(0)); }

int InstallerSteps::DownloadSetup() {
  return ::DownloadSetup(recorder_, items_, setupPath_, choice_, trusted_);
}

std::wstring InstallerSteps::ReadSetupVersion() {
  return detection_.ReadSetupVersion(setupPath_);
}

bool InstallerSteps::LaunchSetup(bool attachmentDownloaded) {
  return ::LaunchSetup(recorder_, items_, optionsWindow_, setupPath_, attachmentPath_,
                       attachmentFileName_, choice_, attachmentDownloaded, starter_);
}

bool InstallerSteps::IsProductInstalled() { return detection_.IsProductInstalled(); }
