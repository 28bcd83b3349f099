#pragma once

#include <string>

#include "app/config_item.h"
#include "app/install_driver.h"
#include "app/run_recorder.h"
#include "app/ui_context.h"

// Interim installer steps, until the configuration reader, the download
// engine, trust verification, setup launch and product detection land.
// What each does is plain and deliberate:
//  - the configuration is requested for real (one WinINet GET, 60 s limit)
//    and saved; a downloaded configuration is not decrypted yet, so it yields
//    no item (end reason 2); a failed request builds the real fallback item;
//  - the install mode follows the real rules with "not installed, not
//    running": 5 for a version that is not four numbers, else 0;
//  - the attachment is not downloaded (result 50, not supported);
//  - the package is not downloaded; it counts as present (phase 13,1,1) so
//    the run walks through every state;
//  - the setup launch starts nothing and counts as done (phase 17,1,0);
//  - the product never counts as installed (phase 19,12,1).
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
};

// The roaming application-data folder + "\Vexlo\ZetoraBrowserInstaller";
// both levels are created when missing.
std::wstring InstallerDirectory();

// One plain GET of url into path with the given time limit; 0 on status 200,
// 1223 for another status, else the WinINet or file error.
DWORD FetchUrlToFile(const std::wstring& url, const std::wstring& path, DWORD timeoutMs);
