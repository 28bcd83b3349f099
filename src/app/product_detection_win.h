#pragma once

#include <windows.h>

#include <string>

#include "app/browser_names.h"
#include "app/install_mode.h"
#include "app/run_recorder.h"

// Where the product's registration is read and how long the browser is
// given. The product uses the defaults; tests point the registry at a
// scratch key and shorten the waits.
struct DetectionSettings {
  HKEY registryRoot = HKEY_LOCAL_MACHINE;
  std::wstring productKey = kProductKey;
  DWORD exitWaitMs = 10000;   // per browser process asked to exit
  DWORD launchPollMs = 1000;  // between the checks for a started browser
};

// The default install directory: Program Files followed by
// "\Vexlo\ZetoraBrowser".
std::wstring DefaultInstallDirectory();

// The ProductVersion string of file's version resource, as written there
// (callers turn "," into "."). E_FAIL, with *version empty, when the file
// has no readable version data, no full translation pair or no such string.
HRESULT ReadProductVersion(const std::wstring& file, std::wstring* version);

// The installed product (registry and executable) and the running browser
// (its message-only windows, exit events and processes). Each check queues
// its "cenv" trace through the recorder, when there is one.
class ProductDetection : public BrowserHost {
 public:
  explicit ProductDetection(RunRecorder* recorder,
                            const DetectionSettings& settings = DetectionSettings());

  // The registered install directory: empty when the key or value is
  // missing, not a string, or longer than MAX_PATH characters.
  std::wstring ReadInstallDir() const;
  // The browser executable in that directory; empty when there is none.
  std::wstring InstalledExecutable() const;
  // The downloaded setup's ProductVersion, "," made ".".
  std::wstring ReadSetupVersion(const std::wstring& setupPath);

  bool IsBrowserRunning() override;
  bool IsProductInstalled() override;
  bool IsInstalledUpToDate(const std::wstring& offered) override;
  void BringBrowserToFront() override;
  bool CloseRunningBrowser() override;
  void LaunchInstalledBrowser() override;
  void WaitLaunchPoll() override;

 private:
  void Trace(const std::wstring& value);
  std::wstring InstalledVersion() const;

  RunRecorder* recorder_;
  DetectionSettings settings_;
};
