#include "app/install_driver.h"

#include "app/driver_messages.h"
#include "sys/diag.h"

int ExitCodeFor(int endReason, bool installed) {
  switch (endReason) {
    case kEndCompleted:
      return installed ? kExitInstalled : kExitNotInstalledAfterSetup;
    case kEndUpToDate:  // the installed browser was started instead
      return kExitInstalled;
    default:
      return endReason;
  }
}

InstallDriver::InstallDriver(InstallSteps& steps, DriverUi& ui, RunRecorder& recorder)
    : steps_(steps), ui_(ui), recorder_(recorder) {}

int InstallDriver::Run() {
  recorder_.QueueStartRecord();
  // The UI may cancel while it initialises (for example when the user closes
  // a prompt shown at start); the loop below then ends at once.
  if (ui_.IsCancelRequested()) {
    recorder_.Stamp(phase::kRunEnd, phase::kCancelledBeforeStart, 1);
    recorder_.EndReport();
    endReported_ = true;
  }

  while (!done_) {
    if (ui_.IsCancelRequested()) {
      endReason_ = kEndCancelled;
      break;
    }
    ui_.Post(kMsgPhaseNotice, static_cast<std::uintptr_t>(state_), 0);
    RunState();
    if (endReason_ != 0) break;
  }

  EndRun();
  return endReason_;
}

void InstallDriver::RunState() {
  switch (state_) {
    case 1:
      state_ = 2;
      break;
    case 2:
      configDownloaded_ = steps_.DownloadConfiguration();
      state_ = 3;
      break;
    case 3:
      if (configDownloaded_) {
        if (!steps_.ParseConfiguration()) endReason_ = kEndNoConfigItem;
      } else {
        steps_.BuildFallbackItem();
      }
      state_ = 4;
      break;
    case 4:
      RunState4();
      state_ = 5;
      break;
    case 5:
      attachmentDownloaded_ = steps_.DownloadAttachment();
      state_ = 6;
      break;
    case 6: {
      steps_.MakeSetupPath();
      const int result = steps_.DownloadSetup();
      if (result == 1) endReason_ = kEndSetupDownloadFailed;
      if (result == 2) endReason_ = kEndSetupNotTrusted;
      state_ = 7;
      break;
    }
    case 7:
      RunState7();
      state_ = 8;
      break;
    default:
      done_ = true;
      break;
  }
}

void InstallDriver::RunState4() {
  const std::wstring version = steps_.FirstItemVersion();
  recorder_.SetConfigVersion(version);
  const int mode = steps_.ClassifyInstall(version);
  ui_.Post(kMsgModeNotice, static_cast<std::uintptr_t>(mode), 0);
  if (ui_.WaitUserCommand() == kUserCommandInstall) {
    if (!steps_.ApplyMode(mode)) endReason_ = kEndUpToDate;
  } else {
    endReason_ = kEndCancelled;
    RecordPhase(recorder_, phase::kUserCommand, phase::kNotInstallCommand, 1);
  }
}

void InstallDriver::RunState7() {
  ui_.Post(kMsgGoRequest, 0, 0);
  if (ui_.WaitUserCommand() != kUserCommandInstall) {
    endReason_ = kEndCancelled;
    RecordPhase(recorder_, phase::kUserCommand, phase::kNotInstallCommand, 1);
    return;
  }
  const std::wstring setupVersion = steps_.ReadSetupVersion();
  recorder_.SetSetupVersion(setupVersion);
  const int mode = steps_.ClassifyInstall(setupVersion);
  if (steps_.ApplyMode(mode)) {
    if (!steps_.LaunchSetup(attachmentDownloaded_)) endReason_ = kEndSetupLaunchFailed;
  }
  installed_ = steps_.IsProductInstalled();
  if (installed_) {
    recorder_.Stamp(phase::kPostInstallCheck, phase::kSucceeded, 0);
  } else {
    recorder_.Stamp(phase::kPostInstallCheck, phase::kProductNotInstalled, 1);
  }
  recorder_.QueueRunningTrace();
}

void InstallDriver::EndRun() {
  const bool cancelled = ui_.IsCancelRequested();
  if (cancelled) endReason_ = kEndCancelled;
  // The end of the run is stamped and reported once, also after a cancel
  // that came before the first state.
  if (!endReported_) {
    recorder_.Stamp(phase::kRunEnd, recorder_.LastResult(), recorder_.LastExtReason());
    recorder_.EndReport();
  }
  ui_.Post(kMsgEndNotice, static_cast<std::uintptr_t>(endReason_), cancelled ? 1 : 0);
  recorder_.QueueEndRecord();
  recorder_.FlushNow();
  ui_.WaitForUiEnd();
  recorder_.StopUploader();
  DiagPrintf(L"InstallDriver end reason=%d cancel=%d\r\n", endReason_, cancelled ? 1 : 0);
}
