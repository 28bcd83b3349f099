#pragma once

#include <string>

#include "app/config_item.h"
#include "app/package_steps_win.h"
#include "app/install_driver.h"
#include "app/product_detection_win.h"
#include "app/run_recorder.h"
#include "app/ui_context.h"

// The installer steps: the channel configuration, product detection (install
// mode, the action it asks for, the setup's version and the post-install
// check), the attachment and package downloads with the trust check, and
// the setup launch.
class InstallerSteps : public InstallSteps {
 public:
  InstallerSteps(RunRecorder& recorder, InstallChoice& choice, const std::wstring& tn,
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
  // The verified package, held so that it cannot change before its launch.
  ScopedHandle package_;
  ProductDetection detection_;
};
