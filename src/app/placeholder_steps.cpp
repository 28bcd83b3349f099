#include "app/placeholder_steps.h"

#include <shlobj.h>
#include <wininet.h>

#include "app/install_mode.h"
#include "build_config.h"
#include "sys/diag.h"
#include "sys/scoped_handle_win.h"

std::wstring InstallerDirectory() {
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
    appData[0] = L'\0';
  }
  std::wstring dir = appData;
  dir += L"\\Vexlo";
  CreateDirectoryW(dir.c_str(), nullptr);
  dir += L"\\ZetoraBrowserInstaller";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

DWORD FetchUrlToFile(const std::wstring& url, const std::wstring& path, DWORD timeoutMs) {
  ScopedInternetHandle session(
      InternetOpenW(L"VexloInstaller", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.IsValid()) return GetLastError();
  InternetSetOptionW(session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
  InternetSetOptionW(session.Get(), INTERNET_OPTION_SEND_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
  InternetSetOptionW(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
  DWORD result = 0;
  ScopedInternetHandle request(InternetOpenUrlW(
      session.Get(), url.c_str(), nullptr, 0,
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0));
  if (!request.IsValid()) {
    result = GetLastError();
  } else {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr) ||
        status != 200) {
      result = ERROR_CANCELLED;
    } else {
      ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.IsValid()) {
        result = GetLastError();
      } else {
        char buffer[16384];
        DWORD read = 0;
        while (InternetReadFile(request.Get(), buffer, sizeof(buffer), &read) && read > 0) {
          DWORD written = 0;
          if (!WriteFile(file.Get(), buffer, read, &written, nullptr) || written != read) {
            result = GetLastError();
            break;
          }
        }
      }
    }
  }
  return result;
}

PlaceholderSteps::PlaceholderSteps(RunRecorder& recorder, InstallChoice& choice,
                                   const std::wstring& tn)
    : recorder_(recorder),
      choice_(choice),
      tn_(tn),
      serverBase_(ServerBaseUrl(build_config::kConfigHost, build_config::kConfigPort)) {}

bool PlaceholderSteps::DownloadConfiguration() {
  RecordPhase(recorder_, 2, 0, 0);
  const std::wstring url = BuildConfigUrl(serverBase_, tn_);
  configPath_ = InstallerDirectory() + L"\\vexlobrowser_config";
  const DWORD result = FetchUrlToFile(url, configPath_, 60000);
  recorder_.QueueTrace(L"dcf", L"");
  DiagPrintf(L"DownLoadUrlToFile=%d url=%ls file=%ls log=%ls\r\n", static_cast<int>(result),
             url.c_str(), configPath_.c_str(), L"");
  if (result == 0) {
    RecordPhase(recorder_, 3, 1, 0);
    return true;
  }
  RecordPhase(recorder_, 3, 2, static_cast<int>(result));
  return false;
}

bool PlaceholderSteps::ParseConfiguration() {
  RecordPhase(recorder_, 4, 0, 0);
  DeleteFileW(configPath_.c_str());
  items_.clear();  // the configuration cipher is not in this build yet
  if (!items_.empty()) {
    RecordPhase(recorder_, 5, 1, 0);
    return true;
  }
  RecordPhase(recorder_, 5, 3, 1);
  return false;
}

void PlaceholderSteps::BuildFallbackItem() {
  RecordPhase(recorder_, 6, 0, 0);
  items_.push_back(MakeFallbackItem(serverBase_, tn_));
  InstallerDirectory();
  RecordPhase(recorder_, 7, 1, 0);
}

std::wstring PlaceholderSteps::FirstItemVersion() {
  return items_.empty() ? std::wstring() : items_[0].version;
}

int PlaceholderSteps::ClassifyInstall(const std::wstring& offeredVersion) {
  RecordPhase(recorder_, 8, 0, 0);
  return IsVersionWellFormed(offeredVersion) ? 0 : 5;
}

bool PlaceholderSteps::ApplyMode(int mode) {
  switch (mode) {
    case 0:
      RecordPhase(recorder_, 9, 1, 0);
      return true;
    case 1:
    case 3:
      RecordPhase(recorder_, 9, 4, mode);
      return false;
    case 2:
    case 4:
    case 5:
      RecordPhase(recorder_, 9, 4, mode);
      return true;
    default:
      RecordPhase(recorder_, 9, 4, 0);
      return true;
  }
}

bool PlaceholderSteps::DownloadAttachment() {
  RecordPhase(recorder_, 10, 0, 0);
  const int result = ERROR_NOT_SUPPORTED;
  recorder_.QueueTrace(L"dxm", L"");
  DiagPrintf(L"DownLoadUrlToFile=%d url=%ls file=%ls log=%ls\r\n", result,
             items_.empty() ? L"" : items_[0].attachment.c_str(), L"", L"");
  RecordPhase(recorder_, 11, 5, result);
  return false;
}

void PlaceholderSteps::MakeSetupPath() {
  const ConfigItem item = items_.empty() ? ConfigItem() : items_[0];
  const std::wstring dir = InstallerDirectory() + L"\\" + item.name + L"_" + item.version;
  setupPath_ = dir + L"\\vexlobrowser_setup" + item.name + L"_" + item.version + L".exe";
}

int PlaceholderSteps::DownloadSetup() {
  RecordPhase(recorder_, 12, 0, 0);
  InterlockedExchange(&choice_.downloadPercent, 100);
  recorder_.QueueTrace(L"dstp", L"uef;cks1");
  RecordPhase(recorder_, 13, 1, 1);
  return 0;
}

std::wstring PlaceholderSteps::ReadSetupVersion() { return std::wstring(); }

bool PlaceholderSteps::LaunchSetup(bool attachmentDownloaded) {
  RecordPhase(recorder_, 16, 0, 0);
  recorder_.QueueTrace(L"rstp", L"stp:0,0,0,0");
  RecordPhase(recorder_, 17, 1, 0);
  return true;
}

bool PlaceholderSteps::IsProductInstalled() { return false; }
