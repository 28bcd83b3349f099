#pragma once

#include <windows.h>

#include <string>

struct DownloadControl;  // one download's control block (network layer)
class UserInterface;     // app/user_interface.h

// The record the driver and the user interface share. It lives in the
// entry's frame and outlives the UI thread.
struct InstallChoice {
  HANDLE cancelEvent = nullptr;   // auto-reset; set by the UI when the user cancels
  HANDLE goEvent = nullptr;       // auto-reset; set by the UI to let the installation proceed
  volatile LONG cancelRequested = 0;  // interlocked 0/1; never cleared
  volatile LONG downloadPercent = 0;  // 0..100, written by the package download
  std::wstring installDirectory;      // written by the UI before it sets the go event
  BYTE desktopShortcut = 0;
  BYTE quickLaunch = 0;
  BYTE defaultBrowser = 0;
  BYTE silent = 0;
  DownloadControl* configDownload = nullptr;
  DownloadControl* attachmentDownload = nullptr;
  DownloadControl* setupDownload = nullptr;
};

// Allocated by the driver when it starts the UI thread; never freed before
// the process ends.
struct UiContext {
  HINSTANCE instance = nullptr;
  bool bindSoftware = false;  // "/B" or "/bindsoftware" on the command line
  int showMode = SW_SHOWNORMAL;
  // Manual reset, never reset: the options window takes notices, or it is
  // known that none will.
  HANDLE uiReadyEvent = nullptr;
  // Manual reset, never reset: the interface has ended.
  HANDLE uiEndedEvent = nullptr;
  volatile HWND optionsWindow = nullptr;   // written by the UI thread
  HANDLE uiThread = nullptr;
  InstallChoice* choice = nullptr;
  UserInterface* ui = nullptr;  // what the UI thread runs
};

// Creates both events of a fresh InstallChoice (auto-reset, non-signalled).
bool InitInstallChoice(InstallChoice* choice);
