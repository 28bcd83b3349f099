#include "app/placeholder_steps.h"

#include <utility>

#include "app/config_steps_win.h"
#include "app/install_mode.h"
#include "build_config.h"
#include "sys/diag.h"

PlaceholderSteps::PlaceholderSteps(RunRecorder& recorder, InstallChoice& choice,
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
  return ::DownloadAttachment(recorder_, &items_, &attachmentPath_, &attachmentFileName_, choice_);
}

void PlaceholderSteps::MakeSetupPath() { ::MakeSetupPath(&setupPath_, &items_.at(0)); }

int PlaceholderSteps::DownloadSetup() {
  return ::DownloadSetup(recorder_, items_, setupPath_, choice_, trusted_);
}

std::wstring PlaceholderSteps::ReadSetupVersion() {
  return detection_.ReadSetupVersion(setupPath_);
}

bool PlaceholderSteps::LaunchSetup(bool attachmentDownloaded) {
  return ::LaunchSetup(recorder_, items_, optionsWindow_, setupPath_, attachmentPath_,
                       attachmentFileName_, choice_, attachmentDownloaded, starter_);
}

bool PlaceholderSteps::IsProductInstalled() { return detection_.IsProductInstalled(); }
