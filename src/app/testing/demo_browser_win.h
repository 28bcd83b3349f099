#pragma once

// The demo browser as the Windows tests use it: started for real with its
// settings, its log read back, and the product registration that points at
// a copy of it.
#include <windows.h>

#include <string>

// The built demo browser executable.
std::wstring DemoBrowserPath();

// A fresh directory (under the temporary folder, name + padding up to
// totalChars characters when given) holding the demo browser as
// zetorabrowser.exe.
std::wstring MakeInstallDirWithBrowser(const wchar_t* name, std::size_t totalChars = 0);

// True once the file at path contains text; false after waitMs.
bool WaitForFileText(const std::wstring& path, const std::string& text, DWORD waitMs);

// One demo browser process. Settings are passed through the environment
// (so a browser it launches in turn gets them too), with a log of its own.
// A process still running when this is destroyed is ended.
class DemoBrowserProcess {
 public:
  DemoBrowserProcess();
  ~DemoBrowserProcess();
  DemoBrowserProcess(const DemoBrowserProcess&) = delete;
  DemoBrowserProcess& operator=(const DemoBrowserProcess&) = delete;

  // Starts executable; true once it has logged its start.
  bool Start(const std::wstring& settings, const std::wstring& executable = DemoBrowserPath());
  // The exit code once the process has ended within waitMs, else STILL_ACTIVE.
  DWORD WaitExit(DWORD waitMs);
  std::string Log() const;
  const std::wstring& logPath() const { return logPath_; }

 private:
  HANDLE process_ = nullptr;
  std::wstring logPath_;
};

// The settings variable the demo browser reads, set for this process and
// the programs it starts while the object lives.
class ScopedBrowserSettings {
 public:
  explicit ScopedBrowserSettings(const std::wstring& settings);
  ~ScopedBrowserSettings();
};

// The product registration (the "installDir" value) under root\key, removed
// with the key when destroyed.
class TestRegistration {
 public:
  TestRegistration(HKEY root, const std::wstring& key);
  ~TestRegistration();
  bool SetInstallDir(const std::wstring& dir) const;
  bool SetValue(DWORD type, const void* data, DWORD bytes) const;

 private:
  HKEY root_;
  std::wstring key_;
};

// Ends every demo browser still showing a main message window (browsers a
// test had the product start), and waits until they are gone.
void EndRemainingBrowsers();
