#pragma once

// The package steps of the installer: state 5 downloads the item's
// attachment, state 6 downloads the package into the item's folder and keeps
// it only when it is trusted, state 7 runs it hidden with the command built
// from the user's choices.
#include <windows.h>

#include <functional>
#include <string>

#include "app/config_item.h"
#include "app/run_recorder.h"
#include "app/ui_context.h"
#include "sys/scoped_handle_win.h"

// True when the file read through the handle (opened by the caller with
// OpenForVerification; path names it) is trusted and its signer accepted;
// beforeDownload is 1 for a package found in place, 0 for a freshly
// downloaded one.
using TrustCheck =
    std::function<bool(HANDLE file, const std::wstring& path, int beforeDownload)>;

// Starts the package with the command as its parameters. True when it was
// started; *process is its handle to wait for (null when there is none),
// *error the error code of a failed start.
using PackageStarter = std::function<bool(const std::wstring& setupPath,
                                          const std::wstring& command, HANDLE* process,
                                          DWORD* error)>;

// The item's folder in the installer directory, "<name>_<version>", or
// "<name>_" when Windows refuses the version in a folder name; in that case,
// once the shorter folder exists, the item's version is cleared for the rest
// of the run. Returns the folder part of the names; directory gets the path.
std::wstring MakeItemDirectory(ConfigItem* item, std::wstring* directory);

bool DownloadAttachment(RunRecorder& recorder, ConfigItemList* items,
                        std::wstring* attachmentPath, std::wstring* attachmentFileName,
                        InstallChoice& choice);

void MakeSetupPath(std::wstring* setupPath, ConfigItem* item);

// 0 ready, 1 download failed, 2 not trusted. A fresh download is moved onto
// the setup path (tried twice; when it cannot be moved, the downloaded file
// is used where it is) and then verified. When ready, *setupPath names the
// package to launch and *package holds it open (OpenForVerification) so that
// nothing can change it before the launch; the caller keeps the handle until
// the package has been started.
int DownloadSetup(RunRecorder& recorder, const ConfigItemList& items, std::wstring* setupPath,
                  InstallChoice& choice, const TrustCheck& trusted, ScopedHandle* package);

bool LaunchSetup(RunRecorder& recorder, const ConfigItemList& items, HWND optionsWindow,
                 const std::wstring& setupPath, const std::wstring& attachmentPath,
                 const std::wstring& attachmentFileName, InstallChoice& choice,
                 bool attachmentDownloaded, const PackageStarter& starter);

// Runs the package and waits for it to end, at most waitLimitMs from the
// start: a package still running then is left running, and the result is
// false with *errorCode ERROR_TIMEOUT. childSeen tells whether the started
// process was seen among this process's children.
bool RunSetup(const std::wstring& setupPath, const std::wstring& command, DWORD* errorCode,
              DWORD* launchMs, DWORD* totalMs, int* childSeen, const PackageStarter& starter,
              DWORD waitLimitMs);

// How long the installer waits for the package it started (test builds:
// ZETORA_TEST_SETUP_WAIT_SECONDS).
DWORD SetupWaitLimitMs();

// The real starter: ShellExecuteExW of the package itself, hidden, no error
// UI, the process handle kept.
bool StartPackage(const std::wstring& setupPath, const std::wstring& command, HANDLE* process,
                  DWORD* error);

// The installer's check: the file verified by the system, chained to a
// trusted root, not revoked, and signed by the build's accepted signer
// (ProductSignerPolicy); every step queued as "csgn".
TrustCheck ProductTrustCheck(RunRecorder& recorder);

// The starter the installer uses: StartPackage (test builds can make it fail
// with a chosen error code).
PackageStarter ProductPackageStarter();

// True when any process in the system's process list has this process as its
// parent (NtQuerySystemInformation, resolved at run time).
bool HasChildProcess();
