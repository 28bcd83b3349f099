// The running browser: found through its message-only windows, asked to exit
// by a posted message and waited for through its named exit events.
#include <shlobj.h>

#include "app/product_detection_win.h"
#include "sys/scoped_handle_win.h"

namespace {

BrowserTitles CurrentUserTitles(TitleForm form) {
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
    appData[0] = L'\0';
  }
  wchar_t user[256] = {};
  DWORD userChars = 256;
  if (!GetUserNameW(user, &userChars)) user[0] = L'\0';
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  return MakeBrowserTitles(form, appData, user, session);
}

HWND FindMessageWindow(const wchar_t* windowClass, const std::wstring& title) {
  return FindWindowExW(HWND_MESSAGE, nullptr, windowClass, title.c_str());
}

// A browser window asked to exit, with its process taken when the window
// was found: the window may be gone and its process id reused by the time
// the process has to be ended.
struct BrowserWindow {
  HWND window = nullptr;
  ScopedHandle process;

  void Find(const wchar_t* windowClass, const std::wstring& title) {
    window = FindMessageWindow(windowClass, title);
    if (window == nullptr) return;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != 0) {
      process.Set(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
    }
  }
};

// Ends a process that did not exit in time; one that has ended meanwhile
// counts as ended.
bool EndProcess(HANDLE process) {
  if (process == nullptr) return false;
  if (TerminateProcess(process, 0)) return true;
  return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Waits until the process behind window has set its exit event, ending it
// after waitMs. No window: nothing to wait for. No event: the process is
// taken as gone. An event that exists but cannot be opened (other rights)
// is no proof of exit: the process itself is waited for instead.
bool WaitForBrowserExit(const BrowserWindow& slot, const wchar_t* eventName, DWORD waitMs) {
  if (slot.window == nullptr) return true;
  ScopedHandle event(OpenEventW(SYNCHRONIZE, FALSE, eventName));
  HANDLE waitable = event.Get();
  if (!event.IsValid()) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return true;
    if (slot.process.Get() == nullptr) return false;
    waitable = slot.process.Get();
  }
  switch (WaitForSingleObject(waitable, waitMs)) {
    case WAIT_OBJECT_0:
      return true;
    case WAIT_TIMEOUT:
      return EndProcess(slot.process.Get());
    default:
      return false;
  }
}

// Tells the other product that the browser was closed; nothing depends on
// whether it listens.
void SignalOtherProduct() {
  ScopedHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, kOtherProductEvent));
  if (event.IsValid()) SetEvent(event.Get());
}

struct TopLevelSearch {
  HWND found = nullptr;
};

BOOL CALLBACK FindBrowserTopLevel(HWND window, LPARAM parameter) {
  wchar_t windowClass[64] = {};
  if (GetClassNameW(window, windowClass, 64) == 0 ||
      lstrcmpiW(windowClass, kBrowserTopLevelClass) != 0 ||
      GetWindow(window, GW_CHILD) == nullptr) {
    return TRUE;
  }
  reinterpret_cast<TopLevelSearch*>(parameter)->found = window;
  return FALSE;
}

}  // namespace

bool ProductDetection::IsBrowserRunning() {
  Trace(L"ibbar");
  const BrowserTitles titles = CurrentUserTitles(TitleForm::kDetect);
  for (const std::wstring* title : {&titles.slashes, &titles.backslashes, &titles.session}) {
    if (FindMessageWindow(kMainClassDetect, *title) != nullptr) {
      Trace(L"bbir");
      return true;
    }
  }
  return false;
}

bool ProductDetection::CloseRunningBrowser() {
  const BrowserTitles titles = CurrentUserTitles(TitleForm::kClose);
  // Slots 0-2: main, companion and other product titled with the profile
  // path; 3-5: the same classes titled with the session title.
  BrowserWindow slots[6];
  slots[0].Find(kMainClassClose, titles.slashes);
  if (slots[0].window != nullptr) {
    PostMessageW(slots[0].window, WM_QUIT, 0, 0);
  } else {
    const wchar_t* classes[3] = {kMainClassClose, kCompanionClass, kOtherProductClass};
    bool any = false;
    for (int i = 0; i < 3; ++i) {
      slots[i].Find(classes[i], titles.backslashes);
      slots[i + 3].Find(classes[i], titles.session);
      any = any || slots[i].window != nullptr || slots[i + 3].window != nullptr;
    }
    if (!any) {
      SignalOtherProduct();
      return true;
    }
    for (const BrowserWindow& slot : slots) {
      if (slot.window != nullptr) PostMessageW(slot.window, kBrowserExitRequest, 0, 0);
    }
  }

  bool lastWaitSucceeded = false;
  for (int main : {0, 3}) {
    lastWaitSucceeded = WaitForBrowserExit(slots[main], kMainExitEvent, settings_.exitWaitMs);
    if (!lastWaitSucceeded) continue;
    lastWaitSucceeded =
        WaitForBrowserExit(slots[main + 1], kCompanionExitEvent, settings_.exitWaitMs);
    if (!lastWaitSucceeded) return false;
  }
  if (!lastWaitSucceeded) return false;
  SignalOtherProduct();
  return true;
}

void ProductDetection::BringBrowserToFront() {
  Trace(L"sbbtfw");
  TopLevelSearch search;
  EnumWindows(&FindBrowserTopLevel, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return;
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE;
  SetWindowPos(search.found, HWND_TOPMOST, 0, 0, 0, 0, keep);
  SetWindowPos(search.found, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
  ShowWindow(search.found, SW_RESTORE);
  SetForegroundWindow(search.found);
}
