#pragma once

// Runs the real installer executable for the Windows tests and reads what
// the loopback statistics collector received from that run.
#include <windows.h>

#include <json/json.h>

#include <string>
#include <vector>

#include "stat/collector_client_win.h"

struct InstallerRunResult {
  DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE: did not end in time (then ended)
  std::string diagnostics;        // standard error of the run
  std::vector<Json::Value> reports;  // the run's reports, in arrival order

  // The one-shot End record's line ("" when absent).
  std::string EndLine() const;
  // The last report's line: the accumulated traces of the whole run.
  std::string FinalMap() const;
  // The Stat number of every running trace, in order ("2", "3", ...).
  std::vector<std::string> Stats() const;
};

// Starts the installer with arguments plus a run tag of its own, waits for
// it up to timeoutMs and collects the reports whose header carries that tag
// and channel tn. installer names another executable than the build's.
InstallerRunResult RunInstallerTagged(CollectorClient& collector, const std::wstring& tn,
                                      const std::wstring& arguments, DWORD timeoutMs,
                                      const std::wstring& installer = std::wstring());

// Starts the installer with arguments and channel tn without waiting for it
// (to end it half-way); the caller owns the returned process handle, null
// when it could not start.
HANDLE StartInstaller(const std::wstring& tn, const std::wstring& arguments,
                      const std::wstring& installer = std::wstring());

// A copy of the build's installer whose skin package is replaced by bytes
// that are no archive, as in a damaged download; empty on failure.
std::wstring DamagedSkinInstallerCopy();

// The value of key in a formatted line ("key=value key=value ").
std::string ValueOf(const std::string& line, const std::string& key);
std::vector<std::string> SplitText(const std::string& text, char separator);

// The roaming application-data installer directory of this prefix.
std::wstring TestInstallerDirectory();
