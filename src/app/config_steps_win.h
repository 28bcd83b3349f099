#pragma once

#include <string>

#include "app/config_item.h"
#include "app/run_recorder.h"
#include "app/ui_context.h"

// The configuration steps of the installer: state 2 downloads the channel's
// configuration into the installer directory, state 3 reads it, or builds
// the built-in item when the download failed.

// The roaming application-data folder + "\Vexlo\ZetoraBrowserInstaller";
// both levels are created when missing.
std::wstring InstallerDirectory();

// The time limit of a download: seconds, or in a test build the number of
// seconds in the environment variable testVariable when it is set, so tests
// wait out a stalled server quickly.
std::uint32_t DownloadTimeLimit(const wchar_t* testVariable, std::uint32_t seconds);

// Downloads the configuration of channel tn (60 s limit, cancelled through
// the choice's configuration control). True when the file was downloaded.
bool DownloadConfiguration(RunRecorder& recorder, const std::wstring& serverBase,
                           const std::wstring& tn, std::wstring* configPath,
                           InstallChoice& choice);

// Reads the downloaded configuration into items and deletes the file. False
// when no item could be read.
bool ParseConfiguration(RunRecorder& recorder, ConfigItemList* items,
                        const std::wstring& configPath);

// Appends the built-in item of channel tn.
void FallbackItem(RunRecorder& recorder, ConfigItemList* items, const std::wstring& serverBase,
                  const std::wstring& tn);
