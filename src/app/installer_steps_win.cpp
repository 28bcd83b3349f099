#include "app/installer_steps_win.h"

#include <utility>

#include "app/config_steps_win.h"
#include "app/install_mode.h"
#include "build_config.h"
#include "sys/diag.h"
#include "sys/test_setting_win.h"

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
  return ::DownloadSetup(recorder_, items_, &setupPath_, choice_, trusted_, &package_);
}

std::wstring InstallerSteps::ReadSetupVersion() {
  return detection_.ReadSetupVersion(setupPath_);
}

bool InstallerSteps::LaunchSetup(bool attachmentDownloaded) {
#if ZETORA_TEST_SEAMS
  // A test that tries to replace the verified package before its launch:
  // "<package>.held" tells it the package is held, ZETORA_TEST_LAUNCH_PAUSE_MS
  // gives it the time.
  if (const std::uint32_t pauseMs = TestSettingOr(L"ZETORA_TEST_LAUNCH_PAUSE_MS", 0)) {
    const std::wstring marker = setupPath_ + L".held";
    CloseHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(pauseMs);
    DeleteFileW(marker.c_str());
  }
#endif
  const bool launched = ::LaunchSetup(recorder_, items_, optionsWindow_, setupPath_, attachmentPath_,
                                      attachmentFileName_, choice_, attachmentDownloaded, starter_);
  package_.Close();
  return launched;
}

bool InstallerSteps::IsProductInstalled() { return detection_.IsProductInstalled(); }
