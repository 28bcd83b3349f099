#pragma once

#include <cstdint>
#include <string>

#include "app/run_recorder.h"

// The work of the installer states. Each step records its own phases through
// the RunRecorder it was built with.
class InstallSteps {
 public:
  virtual ~InstallSteps() = default;
  // State 2. True when the configuration file was downloaded.
  virtual bool DownloadConfiguration() = 0;
  // State 3 after a download. False when no item could be read.
  virtual bool ParseConfiguration() = 0;
  // State 3 after a failed download: the built-in item for the channel.
  virtual void BuildFallbackItem() = 0;
  virtual std::wstring FirstItemVersion() = 0;
  // Install mode 0..5 for an offered version, and the action it asks for
  // (true = proceed with the installation).
  virtual int ClassifyInstall(const std::wstring& offeredVersion) = 0;
  virtual bool ApplyMode(int mode) = 0;
  // State 5. True when the attachment was downloaded.
  virtual bool DownloadAttachment() = 0;
  // State 6: 0 ready, 1 download failed, 2 not trusted or not put in place.
  virtual void MakeSetupPath() = 0;
  virtual int DownloadSetup() = 0;
  // State 7.
  virtual std::wstring ReadSetupVersion() = 0;
  virtual bool LaunchSetup(bool attachmentDownloaded) = 0;
  virtual bool IsProductInstalled() = 0;
};

// The driver's side of the driver-UI contract: posted notices, the wait for
// the user's command and the shared cancel flag.
class DriverUi {
 public:
  virtual ~DriverUi() = default;
  // Posts to the options window; dropped while the window handle is null.
  virtual void Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // One of the UserCommand values.
  virtual int WaitUserCommand() = 0;
  virtual bool IsCancelRequested() = 0;
  // Waits for the options window to be destroyed and the UI thread to end.
  virtual void WaitForUiEnd() = 0;
};

// The process exit code of a run that ended with endReason; installed tells
// whether the product was found installed after the setup step.
int ExitCodeFor(int endReason, bool installed);

// Walks the installer states 1 to 8 and the end of the run. Run() returns the
// end reason.
class InstallDriver {
 public:
  InstallDriver(InstallSteps& steps, DriverUi& ui, RunRecorder& recorder);
  int Run();

  int state() const { return state_; }
  // True when the product was found installed after the setup step.
  bool installed() const { return installed_; }

 private:
  void RunState();
  void RunState4();
  void RunState7();
  void EndRun();

  InstallSteps& steps_;
  DriverUi& ui_;
  RunRecorder& recorder_;
  int state_ = 1;
  int endReason_ = 0;
  bool done_ = false;
  bool endReported_ = false;
  bool configDownloaded_ = false;
  bool attachmentDownloaded_ = false;
  bool installed_ = false;
};
