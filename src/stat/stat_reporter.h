#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "stat/report_platform.h"
#include "stat/stat_record.h"

// How long the process may wait for statistics once Stop is called. The
// final sends stop starting attempts after finalSendsMs (and each attempt's
// time-outs are cut to the time left); Stop itself returns after waitMs even
// when a network call overruns its time-out.
struct StatStopBound {
  std::uint32_t finalSendsMs = 10000;
  std::uint32_t waitMs = 15000;
};

// The report queue: every part of the installer enqueues records here; the
// worker thread folds traces into one accumulated map, sends one-shot records
// as lines of their own and the accumulated map now and then, each as a
// multipart form, with retries. Each attempt adds an "sthp" outcome trace.
class StatReporter : public StatSink {
 public:
  static constexpr std::size_t kPendingLimit = 10000;  // beyond it traces are dropped
  static constexpr std::uint32_t kWaitMs = 1000;
  static constexpr std::uint32_t kPeriodicSeconds = 120;
  static constexpr int kAttempts = 10;
  static constexpr std::uint32_t kRetryPauseMs = 1000;
  static constexpr std::uint32_t kPostTimeoutMs = 60000;

  using StopBound = StatStopBound;

  StatReporter(ReportPlatform& platform, ReportSender& sender, StopBound bound = StopBound());
  // Stops the worker if it still runs.
  ~StatReporter() override;
  StatReporter(const StatReporter&) = delete;
  StatReporter& operator=(const StatReporter&) = delete;

  // The process-wide queue (Windows), created on first call, never destroyed.
  static StatReporter& Instance();

  // Starts the worker. An empty type or header starts none: records are then
  // queued but never sent. True when the worker runs.
  bool Start(const std::wstring& statisticsType, const std::wstring& header,
             const StatServer& server);
  // Queues a record; while more than kPendingLimit records wait, traces are
  // dropped (one-shot records never are).
  void Enqueue(const StatRecord& record) override;
  // The worker sends the accumulated map at its next idle second.
  void FlushNow();
  // Ends the worker after its final sends, within the stop bound. False when
  // the worker was still busy at the bound (it is then left to end with the
  // process, so the reporter must outlive it). Not from the worker.
  bool Stop();

  std::size_t PendingCount();
  std::wstring AccumulatedText();
  long attempts() const { return attempts_.load(); }
  long failures() const { return failures_.load(); }

 private:
  class Guard;

  static void WorkerEntry(void* self);
  void RunWorker();
  void FinalSends();
  // Takes the pending list: merges its traces, sends its one-shot records.
  // Returns the number of records taken.
  std::size_t ProcessPending();
  void SendAccumulated(bool withRetries);
  bool SendWithRetries(const std::wstring& line, const wchar_t* retryTrace);
  bool SendLine(const std::wstring& line);
  // Milliseconds left for sending: unlimited until Stop, then what remains
  // of the final-sends bound.
  std::uint32_t TimeLeftMs();

  ReportPlatform& platform_;
  ReportSender& sender_;
  const StopBound bound_;

  // Guarded by the platform lock.
  StatMap accumulated_;
  std::list<StatRecord> pending_;

  std::uint32_t lastSendTime_ = 0;  // worker only
  std::atomic<long> stop_{0};
  std::atomic<long> flush_{0};
  std::atomic<std::uint32_t> stopTick_{0};
  std::string header_;
  std::string type_;
  StatServer server_;
  std::atomic<long> attempts_{0};
  std::atomic<long> failures_{0};
  bool workerStarted_ = false;
};
