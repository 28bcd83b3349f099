#pragma once

// Messages the driver posts to the options window.
constexpr unsigned kMsgPhaseNotice = 0x401;  // wParam: installer state about to run (1..8)
constexpr unsigned kMsgEndNotice = 0x402;    // wParam: end reason, lParam: cancel-requested flag
constexpr unsigned kMsgModeNotice = 0x403;   // wParam: install mode 0..5
constexpr unsigned kMsgGoRequest = 0x404;    // the driver is ready to run the setup

// The installer states a phase notice announces; the screens act on these.
enum InstallerStateNotice : int {
  kStateAttachmentDownload = 5,  // the download phase begins
  kStateGoRequest = 7,           // the package is ready and installs
  kStateDone = 8,
};

// Results of WaitUserCommand.
enum UserCommand : int {
  kUserCommandWaitFailed = 0,
  kUserCommandCancel = 1,
  kUserCommandInstall = 2,
  kUserCommandTimeout = 3,
};

// End reasons (wParam of the end notice).
enum EndReason : int {
  kEndCompleted = 0,
  kEndNoConfigItem = 2,
  kEndUpToDate = 3,
  kEndSetupDownloadFailed = 5,
  kEndSetupNotTrusted = 6,
  kEndSetupLaunchFailed = 7,
  kEndCancelled = 8,
};

// Process exit codes: 0 when the browser is installed (or was up to date and
// started); otherwise the end reason, so that a silent deployment can tell
// every failure apart.
enum ExitCode : int {
  kExitInstalled = 0,
  kExitAnotherCopyRunning = 1,
  kExitNoConfigItem = kEndNoConfigItem,
  kExitSetupDownloadFailed = kEndSetupDownloadFailed,
  kExitSetupNotTrusted = kEndSetupNotTrusted,
  kExitSetupLaunchFailed = kEndSetupLaunchFailed,
  kExitCancelled = kEndCancelled,
  // The setup ran and ended, but the product is not installed after it.
  kExitNotInstalledAfterSetup = 9,
};
