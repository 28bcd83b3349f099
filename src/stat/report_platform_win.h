#pragma once

#include <windows.h>

#include "stat/report_platform.h"

// The report queue's lock (a mutex), its signal (a semaphore, count 0,
// maximum 60,000), its worker thread and the system clocks.
class Win32ReportPlatform : public ReportPlatform {
 public:
  Win32ReportPlatform();
  ~Win32ReportPlatform() override;
  Win32ReportPlatform(const Win32ReportPlatform&) = delete;
  Win32ReportPlatform& operator=(const Win32ReportPlatform&) = delete;

  void Lock() override;
  void Unlock() override;
  void Signal(long count) override;
  SignalWait WaitSignal(std::uint32_t timeoutMs) override;
  bool StartWorker(void (*body)(void*), void* argument) override;
  bool JoinWorker(std::uint32_t timeoutMs) override;
  void Pause(std::uint32_t ms) override;
  std::uint32_t UnixSeconds() override;
  std::uint32_t TickMs() override;

 private:
  static DWORD WINAPI ThreadMain(LPVOID self);

  HANDLE mutex_;
  HANDLE semaphore_;
  HANDLE worker_ = nullptr;
  void (*body_)(void*) = nullptr;
  void* argument_ = nullptr;
};

// Posts the form with WinINet, as the statistics server expects it.
class WinInetReportSender : public ReportSender {
 public:
  static const wchar_t kUserAgent[];
  PostOutcome Post(const StatServer& server, const std::string& form,
                   std::uint32_t timeoutMs) override;
};
