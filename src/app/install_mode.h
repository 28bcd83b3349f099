#pragma once

#include <string>

#include "app/run_recorder.h"

// True for exactly four non-empty parts of decimal digits ("1.0.0.5").
bool IsVersionWellFormed(const std::wstring& version);

// A ProductVersion as written in a version resource, with each "," made a
// "." ("1, 0, 0, 5" gives "1. 0. 0. 5"; the comparison skips the blanks).
std::wstring VersionWithDots(std::wstring version);

// Compares two dotted versions part by part and returns -1, 0 or 1. A part
// reads like a C integer (leading blanks, a sign, the leading digits; an
// empty part is 0) and compares exactly however many digits it has. When
// all common parts are equal the version with more parts is the greater, so
// 1.2 < 1.2.0.0.
int CompareVersions(const std::wstring& a, const std::wstring& b);

// Install modes (wParam of the mode notice).
enum InstallMode : int {
  kModeNotInstalled = 0,
  kModeUpToDateRunning = 1,
  kModeOlderRunning = 2,
  kModeUpToDateNotRunning = 3,
  kModeOlderNotRunning = 4,
  kModeVersionMalformed = 5,
};

struct InstallFindings {
  bool running = false;
  bool installed = false;
  bool upToDate = false;
  bool offeredWellFormed = false;
};

int InstallModeFor(const InstallFindings& findings);

// What the mode computation asks of the machine: the installed product and
// the running browser, and the actions a mode takes on them.
class BrowserHost {
 public:
  virtual ~BrowserHost() = default;
  virtual bool IsBrowserRunning() = 0;
  virtual bool IsProductInstalled() = 0;
  virtual bool IsInstalledUpToDate(const std::wstring& offered) = 0;
  virtual void BringBrowserToFront() = 0;
  // False when a browser process could not be made to exit.
  virtual bool CloseRunningBrowser() = 0;
  virtual void LaunchInstalledBrowser() = 0;
  // One pause between the checks for a started browser.
  virtual void WaitLaunchPoll() = 0;
};

// How often a started browser is looked for before the run goes on.
constexpr int kLaunchPolls = 5;

// Records phase (8,0,0), makes all four checks in a fixed order and returns
// the mode for the offered version.
int ClassifyInstall(RunRecorder& recorder, BrowserHost& host, const std::wstring& offered);

// Carries out the mode and records its phase; true when the installation
// goes on (modes 0, 2, 4, 5 and unknown values), false for 1 and 3.
bool ApplyMode(RunRecorder& recorder, BrowserHost& host, int mode);
