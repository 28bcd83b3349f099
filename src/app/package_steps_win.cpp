// rand_s is declared only when this is defined before <stdlib.h>.
#define _CRT_RAND_S
#include "app/package_steps_win.h"

#include <shellapi.h>
#include <winternl.h>

#include <cstdlib>
#include <vector>

#include "app/config_steps_win.h"
#include "app/setup_command.h"
#include "build_config.h"
#include "net/download_control.h"
#include "net/download_to_file.h"
#include "sys/test_setting_win.h"
#include "sys/diag.h"
#include "sys/file_trust.h"
#include "sys/file_trust_win.h"
#include "sys/test_setting_win.h"
#include "sys/text_format.h"

namespace {

const std::uint32_t kAttachmentTimeLimitSeconds = 300;
const std::uint32_t kSetupTimeLimitSeconds = 3600;
const std::size_t kTraceCapacity = 10240;
// A package that has not ended after this long is left running: the
// installer records the timeout and ends, releasing its single-instance
// guard, instead of waiting hidden for ever.
const DWORD kSetupWaitLimitSeconds = 30 * 60;
const DWORD kWaitSliceMs = 1000;
// A move refused once (a scanner holding the fresh file, for example) is
// tried once more after this pause.
const DWORD kMoveRetryDelayMs = 500;

std::wstring TraceText(DownloadControl* control) {
  std::vector<wchar_t> buffer(kTraceCapacity, L'\0');
  if (!GetDownloadTrace(control, buffer.data(), buffer.size())) return std::wstring();
  return buffer.data();
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Milliseconds since a GetTickCount value: the unsigned difference stays
// right across the counter's wrap after 49.7 days and ignores clock changes.
DWORD Since(DWORD start) { return GetTickCount() - start; }

bool MovePackage(const std::wstring& from, const std::wstring& to) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
  DiagPrintf(L"MoveFileExW failed %u, trying again\r\n", static_cast<unsigned>(GetLastError()));
  Sleep(kMoveRetryDelayMs);
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
  DiagPrintf(L"MoveFileExW failed %u, the package is used in place\r\n",
             static_cast<unsigned>(GetLastError()));
  return false;
}

// What the launch thread shares with RunSetup; owned by RunSetup, which
// waits for the thread before it goes.
struct LaunchRecord {
  std::wstring setupPath;
  std::wstring command;
  const PackageStarter* starter = nullptr;
  DWORD start = 0;        // GetTickCount of the launch
  DWORD waitLimitMs = 0;  // from start
  DWORD error = 0;
  int result = 0;
  int childSeen = 0;
  HANDLE launched = nullptr;  // manual reset
};

DWORD WINAPI LaunchThread(void* parameter) {
  LaunchRecord* record = static_cast<LaunchRecord*>(parameter);
  DWORD error = 0;
  HANDLE process = nullptr;
  const bool started = (*record->starter)(record->setupPath, record->command, &process, &error);
  SetEvent(record->launched);
  record->childSeen = HasChildProcess() ? 1 : 0;
  if (started) {
    bool ended = true;
    if (process != nullptr) {
      ended = false;
      for (;;) {
        const DWORD elapsed = Since(record->start);
        if (elapsed >= record->waitLimitMs) break;
        const DWORD slice = record->waitLimitMs - elapsed;
        const DWORD wait = WaitForSingleObject(process, slice < kWaitSliceMs ? slice : kWaitSliceMs);
        if (wait != WAIT_TIMEOUT) {
          ended = true;  // ended, or the handle cannot be waited on
          break;
        }
      }
      CloseHandle(process);
    }
    if (ended) {
      record->result = 1;
    } else {
      // The package keeps running on its own; only the wait ends.
      record->error = ERROR_TIMEOUT;
    }
  } else {
    record->error = error;
  }
  return 0;
}

}  // namespace

std::wstring MakeItemDirectory(ConfigItem* item, std::wstring* directory) {
  const std::wstring base = InstallerDirectory() + L"\\";
  std::wstring part = item->name + L"_" + item->version;
  *directory = base + part;
  if (!CreateDirectoryW(directory->c_str(), nullptr) && GetLastError() == ERROR_INVALID_NAME) {
    part = item->name + L"_";
    *directory = base + part;
    if (CreateDirectoryW(directory->c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
      item->version.clear();
    }
  }
  return part;
}

bool DownloadAttachment(RunRecorder& recorder, ConfigItemList* items,
                        std::wstring* attachmentPath, std::wstring* attachmentFileName,
                        InstallChoice& choice) {
  RecordPhase(recorder, phase::kAttachmentDownloadStarts, phase::kStarted, 0);
  ConfigItem& item = items->at(0);
  const std::wstring url = item.attachment;
  *attachmentFileName = AttachmentFileName(item.name);
  std::wstring directory;
  MakeItemDirectory(&item, &directory);
  *attachmentPath = directory + L"\\" + *attachmentFileName;

  // An item without an attachment fails here at once; the download call
  // would retry an empty URL until its time limit.
  int result = ERROR_INVALID_PARAMETER;
  std::wstring trace;
  if (!url.empty()) {
    DownloadControl* control = CreateDownloadControl(&choice.cancelRequested);
    choice.attachmentDownload = control;
    result = DownLoadUrlToFile(
        control, url, *attachmentPath,
        DownloadTimeLimit(ZETORA_TEST_VARIABLE("ZETORA_TEST_ATTACHMENT_SECONDS"),
                          kAttachmentTimeLimitSeconds),
        0, 0, nullptr);
    trace = TraceText(control);
    DestroyDownloadControl(control);
  }
  recorder.QueueTrace(L"dxm", trace);
  DiagPrintf(L"DownLoadUrlToFile=%d url=%ls file=%ls log=%ls\r\n", result, url.c_str(),
             attachmentPath->c_str(), trace.c_str());
  if (result == 0) {
    RecordPhase(recorder, phase::kAttachmentDownloadEnded, phase::kSucceeded, 0);
    return true;
  }
  RecordPhase(recorder, phase::kAttachmentDownloadEnded,
              phase::kAttachmentDownloadFailed, result);
  return false;
}

void MakeSetupPath(std::wstring* setupPath, ConfigItem* item) {
  std::wstring directory;
  const std::wstring part = MakeItemDirectory(item, &directory);
  *setupPath = directory + L"\\" + SetupFileName(part);
}

int DownloadSetup(RunRecorder& recorder, const ConfigItemList& items, std::wstring* setupPath,
                  InstallChoice& choice, const TrustCheck& trusted, ScopedHandle* package) {
  RecordPhase(recorder, phase::kSetupDownloadStarts, phase::kStarted, 0);
  package->Close();
  std::wstring url = items.at(0).url;
  unsigned int random = 0;
  if (rand_s(&random) == 0) url = AppendRandomParameter(url, random);

  if (FileExists(*setupPath)) {
    ScopedHandle present(OpenForVerification(*setupPath));
    if (present.IsValid() && trusted(present.Get(), *setupPath, 1)) {
      *package = std::move(present);
      InterlockedExchange(&choice.downloadPercent, 100);
      recorder.QueueTrace(L"dstp", L"uef;cks1");
      RecordPhase(recorder, phase::kSetupDownloadEnded, phase::kSucceeded, 1);
      return 0;
    }
  }

  const std::wstring partialPath = *setupPath + L".tmp";
  DownloadControl* control = CreateDownloadControl(&choice.cancelRequested);
  choice.setupDownload = control;
  // LONG and int are both 32 bits on Windows; the download writes the percent.
  const int result =
      DownLoadUrlToFile(control, url, partialPath,
                        DownloadTimeLimit(ZETORA_TEST_VARIABLE("ZETORA_TEST_SETUP_SECONDS"),
                                          kSetupTimeLimitSeconds),
                        0, 1,
                        reinterpret_cast<int*>(const_cast<LONG*>(&choice.downloadPercent)));
  std::wstring trace = TraceText(control);
  DestroyDownloadControl(control);
  DiagPrintf(L"DownLoadUrlToFile=%d url=%ls file=%ls log=%ls\r\n", result, url.c_str(),
             partialPath.c_str(), trace.c_str());

  bool accepted = false;
  std::wstring packagePath = partialPath;
  if (result == 0) {
    // The file is verified where it will be launched from, through the
    // handle that then keeps it unchanged: checked before a move, it could
    // be swapped between the check and the move.
    if (MovePackage(partialPath, *setupPath)) packagePath = *setupPath;
    package->Set(OpenForVerification(packagePath));
    accepted = package->IsValid() && trusted(package->Get(), packagePath, 0);
  }
  trace += accepted ? L";cks1" : L";cks0";
  recorder.QueueTrace(L"dstp", trace);
  if (result != 0) {
    RecordPhase(recorder, phase::kSetupDownloadEnded, phase::kSetupDownloadFailed, result);
    return 1;
  }
  if (!accepted) {
    // A complete file that is not trusted would be continued, and refused,
    // by every later run: start afresh next time.
    package->Close();
    DeleteFileW(packagePath.c_str());
    DeleteFileW((partialPath + L".resume").c_str());
    RecordPhase(recorder, phase::kSetupDownloadEnded, phase::kSetupNotTrusted, 1);
    return 2;
  }
  // The record of the finished partial file is of no further use.
  DeleteFileW((partialPath + L".resume").c_str());
  *setupPath = packagePath;
  RecordPhase(recorder, phase::kSetupDownloadEnded, phase::kSucceeded, 0);
  return 0;
}

bool LaunchSetup(RunRecorder& recorder, const ConfigItemList& items, HWND optionsWindow,
                 const std::wstring& setupPath, const std::wstring& attachmentPath,
                 const std::wstring& attachmentFileName, InstallChoice& choice,
                 bool attachmentDownloaded, const PackageStarter& starter) {
  RecordPhase(recorder, phase::kSetupLaunchStarts, phase::kStarted, 0);
  // Window handles fit in 32 bits on every Windows, which is why the package
  // gets it as an unsigned decimal number.
  const std::uint32_t handle =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(optionsWindow));
  const SetupChoices choices{choice.installDirectory, choice.desktopShortcut != 0,
                             choice.quickLaunch != 0, choice.defaultBrowser != 0};
  const std::wstring command =
      attachmentDownloaded
          ? BuildSetupCommandWithAttachment(items.at(0).installcmd, attachmentFileName,
                                            attachmentPath, handle, choices)
          : BuildSetupCommandWithoutAttachment(handle, choices);

  DWORD error = 0, launchMs = 0, totalMs = 0;
  int childSeen = 0;
  const bool ok = RunSetup(setupPath, command, &error, &launchMs, &totalMs, &childSeen, starter,
                           SetupWaitLimitMs());
  wchar_t trace[64];
  FormatWide(trace, 64, L"stp:%u,%u,%u,%d", static_cast<unsigned>(error),
           static_cast<unsigned>(launchMs), static_cast<unsigned>(totalMs), childSeen);
  recorder.QueueTrace(L"rstp", trace);
  if (error == ERROR_CANCELLED) InterlockedExchange(&choice.cancelRequested, 1);
  if (ok) {
    RecordPhase(recorder, phase::kSetupLaunchEnded, phase::kSucceeded, 0);
    return true;
  }
  RecordPhase(recorder, phase::kSetupLaunchEnded, phase::kSetupLaunchFailed,
              static_cast<int>(error));
  return false;
}

DWORD SetupWaitLimitMs() {
  return TestSettingOr(L"ZETORA_TEST_SETUP_WAIT_SECONDS", kSetupWaitLimitSeconds) * 1000u;
}

bool RunSetup(const std::wstring& setupPath, const std::wstring& command, DWORD* errorCode,
              DWORD* launchMs, DWORD* totalMs, int* childSeen, const PackageStarter& starter,
              DWORD waitLimitMs) {
  const DWORD start = GetTickCount();
  LaunchRecord record;
  record.start = start;
  record.waitLimitMs = waitLimitMs;
  record.setupPath = setupPath;
  record.command = command;
  record.starter = &starter;
  record.launched = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  *childSeen = 0;
  HANDLE thread = record.launched != nullptr
                      ? CreateThread(nullptr, 0, LaunchThread, &record, 0, nullptr)
                      : nullptr;
  if (thread == nullptr) {
    *errorCode = GetLastError();
    if (record.launched != nullptr) CloseHandle(record.launched);
    *launchMs = *totalMs = Since(start);
    return false;
  }
  while (WaitForSingleObject(record.launched, 1000) == WAIT_TIMEOUT) {
    DiagPrintf(L"WaitUAC %d\r\n", static_cast<int>(Since(start)));
  }
  *launchMs = Since(start);
  while (WaitForSingleObject(thread, 1000) == WAIT_TIMEOUT) {
    DiagPrintf(L"WaitSetup %d\r\n", static_cast<int>(Since(start)));
  }
  CloseHandle(thread);
  CloseHandle(record.launched);
  *totalMs = Since(start);
  *childSeen = record.childSeen;
  *errorCode = record.error;
  return record.result != 0;
}

bool StartPackage(const std::wstring& setupPath, const std::wstring& command, HANDLE* process,
                  DWORD* error) {
  // The package is started itself, never through the command interpreter:
  // the command comes from a configuration fetched over plain HTTP, and an
  // interpreter would run whatever follows an "&" in it.
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = setupPath.c_str();
  // A package that could not be moved into place still has its download
  // name (".tmp"): it is started as the program it is, not by its extension.
  const wchar_t kExe[] = L".exe";
  if (setupPath.size() < 4 || _wcsicmp(setupPath.c_str() + setupPath.size() - 4, kExe) != 0) {
    info.fMask |= SEE_MASK_CLASSNAME;
    info.lpClass = L"exefile";
  }
  info.lpParameters = command.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info)) {
    *error = GetLastError();  // read before anything else can overwrite it
    *process = nullptr;
    return false;
  }
  *error = 0;
  *process = info.hProcess;
  return true;
}

TrustCheck ProductTrustCheck(RunRecorder& recorder) {
  return [&recorder](HANDLE file, const std::wstring& path, int beforeDownload) {
    SignerIdentity signer;
    const int trusted =
        VerifyFileTrust(file, path, &signer, beforeDownload,
                        [&recorder](const wchar_t* value) { recorder.QueueTrace(L"csgn", value); });
    const bool accepted = trusted != 0 && IsSignerAccepted(signer, ProductSignerPolicy());
    DiagPrintf(L"VerifyFileTrust=%d signer=%ls cn=%ls o=%ls key=%hs accepted=%d\r\n", trusted,
               signer.displayName.c_str(), signer.commonName.c_str(), signer.organisation.c_str(),
               signer.publicKeySha256.c_str(), accepted ? 1 : 0);
    return accepted;
  };
}

PackageStarter ProductPackageStarter() {
#if ZETORA_TEST_SEAMS
  // Wine has no elevation prompt, so a declined one cannot happen there for
  // real: test builds let ZETORA_TEST_LAUNCH_ERROR make the start fail with
  // a chosen error code (1223 for a declined prompt).
  wchar_t value[16] = {};
  if (GetEnvironmentVariableW(L"ZETORA_TEST_LAUNCH_ERROR", value, 16) > 0) {
    const DWORD code = wcstoul(value, nullptr, 10);
    return [code](const std::wstring&, const std::wstring&, HANDLE* process, DWORD* error) {
      *process = nullptr;
      *error = code;
      return false;
    };
  }
#endif
  return StartPackage;
}

bool HasChildProcess() {
  using QueryFunction = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  QueryFunction query = ntdll != nullptr ? reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
                                               GetProcAddress(ntdll, "NtQuerySystemInformation")))
                                         : nullptr;
  if (query == nullptr) return false;
  const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  const int kSystemProcessInformation = 5;
  std::vector<unsigned char> buffer(102400);
  LONG status = 0;
  for (;;) {
    ULONG needed = 0;
    status = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                   &needed);
    if (status != kInfoLengthMismatch || buffer.size() > (64u << 20)) break;
    buffer.resize(buffer.size() * 2);
  }
  if (status < 0) return false;
  const DWORD self = GetCurrentProcessId();
  std::size_t offset = 0;
  for (;;) {
    if (offset + sizeof(SYSTEM_PROCESS_INFORMATION) > buffer.size()) break;
    const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(&buffer[offset]);
    if (static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(entry->InheritedFromUniqueProcessId)) ==
        self) {
      return true;
    }
    if (entry->NextEntryOffset == 0) break;
    offset += entry->NextEntryOffset;
  }
  return false;
}
