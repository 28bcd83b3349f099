#include "stat/report_platform_win.h"

#include "stat/stat_reporter.h"

namespace {

const LONG kSemaphoreMaximum = 60000;
// 1601-01-01 to 1970-01-01 in 100 ns units.
const ULONGLONG kUnixEpochFileTime = 116444736000000000ULL;

}  // namespace

Win32ReportPlatform::Win32ReportPlatform()
    : mutex_(CreateMutexW(nullptr, FALSE, nullptr)),
      semaphore_(CreateSemaphoreW(nullptr, 0, kSemaphoreMaximum, nullptr)) {}

Win32ReportPlatform::~Win32ReportPlatform() {
  if (worker_ != nullptr) CloseHandle(worker_);
  if (semaphore_ != nullptr) CloseHandle(semaphore_);
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

void Win32ReportPlatform::Lock() { WaitForSingleObject(mutex_, INFINITE); }

void Win32ReportPlatform::Unlock() { ReleaseMutex(mutex_); }

void Win32ReportPlatform::Signal(long count) { ReleaseSemaphore(semaphore_, count, nullptr); }

SignalWait Win32ReportPlatform::WaitSignal(std::uint32_t timeoutMs) {
  switch (WaitForSingleObject(semaphore_, timeoutMs)) {
    case WAIT_OBJECT_0:
      return SignalWait::kSignalled;
    case WAIT_TIMEOUT:
      return SignalWait::kTimedOut;
    default:
      return SignalWait::kFailed;
  }
}

DWORD WINAPI Win32ReportPlatform::ThreadMain(LPVOID self) {
  Win32ReportPlatform* platform = static_cast<Win32ReportPlatform*>(self);
  platform->body_(platform->argument_);
  return 0;
}

bool Win32ReportPlatform::StartWorker(void (*body)(void*), void* argument) {
  if (worker_ != nullptr || mutex_ == nullptr || semaphore_ == nullptr) return false;
  body_ = body;
  argument_ = argument;
  worker_ = CreateThread(nullptr, 0, &Win32ReportPlatform::ThreadMain, this, 0, nullptr);
  return worker_ != nullptr;
}

bool Win32ReportPlatform::JoinWorker(std::uint32_t timeoutMs) {
  if (worker_ == nullptr) return true;
  return WaitForSingleObject(worker_, timeoutMs) == WAIT_OBJECT_0;
}

void Win32ReportPlatform::Pause(std::uint32_t ms) { Sleep(ms); }

std::uint32_t Win32ReportPlatform::UnixSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG fileTime = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::uint32_t>((fileTime - kUnixEpochFileTime) / 10000000ULL);
}

std::uint32_t Win32ReportPlatform::TickMs() { return GetTickCount(); }

StatReporter& StatReporter::Instance() {
  // Never destroyed: after a Stop that ran into its limit the worker may
  // still use it while the process ends.
  static StatReporter* instance =
      new StatReporter(*new Win32ReportPlatform, *new WinInetReportSender);
  return *instance;
}
