#pragma once

#include <string>

#include "app/config_item.h"
#include "app/install_driver.h"
#include "app/product_detection_win.h"
#include "app/run_recorder.h"
#include "app/ui_context.h"

// The installer steps. The configuration steps and the product detection
// (install mode, the action it asks for, the setup's version and the
// post-install check) are the real ones; the others are interim until
// package download, trust and setup launch land. What each interim step does
// is plain and deliberate:
//  - the attachment is not downloaded (result 50, not supported);
//  - the package is not downloaded; it counts as present (phase 13,1,1) so
//    the run walks through every state;
//  - the setup launch starts nothing and counts as done (phase 17,1,0).
class PlaceholderSteps : public InstallSteps {
 public:
  PlaceholderSteps(RunRecorder& recorder, InstallChoice& choice, const std::wstring& tn);

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
  std::wstring configPath_;
  std::wstring setupPath_;
  ProductDetection detection_;
};
