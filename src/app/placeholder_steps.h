#pragma once

#include <string>

#include "app/config_item.h"
#include "app/package_steps_win.h"
#include "app/install_driver.h"
#include "app/run_recorder.h"
#include "app/ui_context.h"

// The installer steps. The configuration, attachment, package and launch
// steps are the real ones; product detection is interim and plain:
//  - the install mode follows the real rules with "not installed, not
//    running": 5 for a version that is not four numbers, else 0;
//  - the product never counts as installed (phase 19,12,1).
class PlaceholderSteps : public InstallSteps {
 public:
  PlaceholderSteps(RunRecorder& recorder, InstallChoice& choice, const std::wstring& tn,
                   HWND optionsWindow, TrustCheck trusted, PackageStarter starter);

  bool DownloadConfiguration() override;
  bool ParseConfiguration() override;
  void BuildFallbackItem() override;
  std::wstring FirstItemVersion() override;
  int ClassifyInstall(const std::wstring& offeredVersion) override;
  bool ApplyMode(int mode) override;
  bool DownloadAttachment() override;
  void MakeSetupPath() override;
  int DownloadSetup() override;
  std::wstring ReadSetupVersion() override;
  bool LaunchSetup(bool attachmentDownloaded) override;
  bool IsProductInstalled() override;

 private:
  RunRecorder& recorder_;
  InstallChoice& choice_;
  std::wstring tn_;
  std::wstring serverBase_;
  ConfigItemList items_;
  HWND optionsWindow_;
  TrustCheck trusted_;
  PackageStarter starter_;
  std::wstring configPath_;
  std::wstring attachmentPath_;
  std::wstring attachmentFileName_;
  std::wstring setupPath_;
};
