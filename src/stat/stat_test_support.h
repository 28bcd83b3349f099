#pragma once

// Stand-ins for the parts the statistics code reads from the machine: a
// scripted clock and identity, a single-threaded platform on virtual time,
// and a statistics server that answers as a test tells it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "stat/report_platform.h"
#include "stat/stat_environment.h"
#include "stat/stat_record.h"

class FakeEnvironment : public StatEnvironment {
 public:
  // 2013-05-06 07:08:09 local time.
  FakeEnvironment() {
    now.year = 2013;
    now.month = 5;
    now.day = 6;
    now.hour = 7;
    now.minute = 8;
    now.second = 9;
    now.fileTime = 130123456789000000ULL;
  }
  void AdvanceMs(std::uint64_t ms) { now.fileTime += ms * 10000; }

  LocalTime LocalNow() override { return now; }
  RunGuid NewRunGuid() override { return guid; }
  bool ReadFileVersion(std::uint16_t parts[4]) override {
    for (int i = 0; i < 4; ++i) parts[i] = version[i];
    return true;
  }
  OsVersionData QueryOsVersion() override { return os; }
  std::wstring MachineIdentifier() override { return machineId; }
  std::wstring SoftwareFingerprint() override { return fingerprint; }

  LocalTime now;
  RunGuid guid;
  std::uint16_t version[4] = {1, 0, 0, 1};
  OsVersionData os;
  std::wstring machineId;
  std::wstring fingerprint;
};

// A one-shot record with the single key "src".
inline StatRecord OneShotRecord(const std::wstring& src) {
  StatRecord record;
  record.kind = kStatKindOneShot;
  record.values[L"src"] = src;
  return record;
}

// Keeps every record it is handed.
class RecordingSink : public StatSink {
 public:
  void Enqueue(const StatRecord& record) override { records.push_back(record); }
  std::vector<StatRecord> records;
};

// One thread, virtual time: waiting on an empty signal, pausing and hanging
// network calls only move the clock. The worker body runs inline, either
// from RunWorker() or when Stop joins it; onIdle scripts what happens at each
// idle second.
class VirtualPlatform : public ReportPlatform {
 public:
  void Lock() override {}
  void Unlock() override {}
  void Signal(long count) override { signals += count; }
  SignalWait WaitSignal(std::uint32_t timeoutMs) override {
    if (failWait || idles >= kMaxIdles) return SignalWait::kFailed;
    if (signals > 0) {
      --signals;
      return SignalWait::kSignalled;
    }
    tick += timeoutMs;
    ++idles;
    if (onIdle) onIdle(idles);
    return SignalWait::kTimedOut;
  }
  bool StartWorker(void (*body)(void*), void* argument) override {
    if (!startSucceeds) return false;
    body_ = body;
    argument_ = argument;
    started = true;
    return true;
  }
  bool JoinWorker(std::uint32_t timeoutMs) override {
    joinTimeouts.push_back(timeoutMs);
    RunWorker();
    return true;
  }
  void Pause(std::uint32_t ms) override {
    pauses.push_back(ms);
    tick += ms;
  }
  std::uint32_t UnixSeconds() override { return unixBase + tick / 1000; }
  std::uint32_t TickMs() override { return tick; }

  // Runs the worker body on this thread (once; a nested call returns).
  void RunWorker() {
    if (body_ == nullptr || running_ || ran_) return;
    running_ = true;
    body_(argument_);
    running_ = false;
    ran_ = true;
  }

  static constexpr int kMaxIdles = 100000;  // a script that never stops ends here
  std::uint32_t tick = 0;
  std::uint32_t unixBase = 0;
  long signals = 0;
  int idles = 0;
  bool failWait = false;
  bool startSucceeds = true;
  bool started = false;
  std::function<void(int)> onIdle;
  std::vector<std::uint32_t> pauses;
  std::vector<std::uint32_t> joinTimeouts;

 private:
  void (*body_)(void*) = nullptr;
  void* argument_ = nullptr;
  bool running_ = false;
  bool ran_ = false;
};

// A statistics server on virtual time.
class ScriptedSender : public ReportSender {
 public:
  struct Attempt {
    std::string body;  // the userfile part of the form
    std::uint32_t timeoutMs;
    std::uint32_t tick;  // when the attempt started
  };
  enum class Mode { kAnswer, kRefuse, kHang };

  explicit ScriptedSender(VirtualPlatform& platform) : platform_(platform) {}

  void Answer(int httpStatus) {
    mode = Mode::kAnswer;
    status = httpStatus;
  }

  PostOutcome Post(const StatServer& server, const std::string& form,
                   std::uint32_t timeoutMs) override {
    attempts.push_back({BodyOf(form), timeoutMs, platform_.tick});
    PostOutcome outcome;
    switch (mode) {
      case Mode::kAnswer:
        outcome.stage = status == 200 ? 6 : 5;
        outcome.status = status;
        break;
      case Mode::kRefuse:
        outcome.stage = 4;
        outcome.lastError = 12029;  // cannot connect
        break;
      case Mode::kHang:
        platform_.tick += timeoutMs;
        outcome.stage = 4;
        outcome.lastError = 12002;  // timed out
        break;
    }
    return outcome;
  }

  // The record lines of all attempts: the body without the header "H ", and
  // without the final "\r\n".
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const Attempt& a : attempts) lines.push_back(a.body.substr(2, a.body.size() - 4));
    return lines;
  }

  static std::string BodyOf(const std::string& form) {
    const std::string start = "Content-Type: application/x-gzip\r\n\r\n";
    const std::string end = "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG--\r\n";
    const std::size_t from = form.find(start);
    if (from == std::string::npos || form.size() < from + start.size() + end.size()) return "";
    const std::size_t bodyStart = from + start.size();
    return form.substr(bodyStart, form.size() - end.size() - bodyStart);
  }

  Mode mode = Mode::kAnswer;
  int status = 200;
  std::vector<Attempt> attempts;

 private:
  VirtualPlatform& platform_;
};
