#include "stat/stat_environment_win.h"

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <vector>

#include "stat/cstat.h"
#include "stat/stat_reporter.h"
#include "sys/background_call.h"
#include "sys/caller_buffer.h"
#include "sys/machine_id_win.h"
#include "sys/os_version_win.h"
#include "sys/software_fingerprint_win.h"

namespace {

// Room for either identity text, so one query call answers.
constexpr std::uint32_t kIdentityBufferSize = 1024;

}  // namespace

LocalTime Win32StatEnvironment::LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  time.milliseconds = now.wMilliseconds;
  FILETIME fileTime;
  if (SystemTimeToFileTime(&now, &fileTime)) {
    time.fileTime = (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) |
                    fileTime.dwLowDateTime;
  }
  return time;
}

RunGuid Win32StatEnvironment::NewRunGuid() {
  GUID guid = {};
  CoCreateGuid(&guid);
  RunGuid run;
  run.data1 = guid.Data1;
  run.data2 = guid.Data2;
  run.data3 = guid.Data3;
  for (int i = 0; i < 8; ++i) run.data4[i] = guid.Data4[i];
  return run;
}

bool Win32StatEnvironment::ReadFileVersion(std::uint16_t parts[4]) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) ||
      info == nullptr || infoSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  parts[0] = HIWORD(info->dwFileVersionMS);
  parts[1] = LOWORD(info->dwFileVersionMS);
  parts[2] = HIWORD(info->dwFileVersionLS);
  parts[3] = LOWORD(info->dwFileVersionLS);
  return true;
}

OsVersionData Win32StatEnvironment::QueryOsVersion() { return ::QueryOsVersion(); }

std::wstring Win32StatEnvironment::MachineIdentifier() {
  ReadIdentityOnce();
  return machineId_;
}

std::wstring Win32StatEnvironment::SoftwareFingerprint() {
  ReadIdentityOnce();
  return fingerprint_;
}

void Win32StatEnvironment::ReadIdentityOnce() {
  if (identityRead_) return;
  identityRead_ = true;
  BackgroundCall<std::wstring> machine(
      [] { return ReadThroughCallerBuffer(QueryMachineIdentifier, kIdentityBufferSize); });
  BackgroundCall<std::wstring> software(
      [] { return ReadThroughCallerBuffer(QuerySoftwareFingerprint, kIdentityBufferSize); });
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kIdentityProbeLimitMs);
  machineId_ = machine.WaitUntil(deadline).value_or(std::wstring());
  fingerprint_ = software.WaitUntil(deadline).value_or(std::wstring());
}

CStat& CStat::Instance() {
  static Win32StatEnvironment environment;
  static CStat instance(environment, StatReporter::Instance());
  return instance;
}
