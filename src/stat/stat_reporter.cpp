#include "stat/stat_reporter.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "stat/stat_text.h"
#include "sys/diag.h"

class StatReporter::Guard {
 public:
  explicit Guard(ReportPlatform& platform) : platform_(platform) { platform_.Lock(); }
  ~Guard() { platform_.Unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  ReportPlatform& platform_;
};

StatReporter::StatReporter(ReportPlatform& platform, ReportSender& sender, StopBound bound)
    : platform_(platform), sender_(sender), bound_(bound) {}

StatReporter::~StatReporter() { Stop(); }

bool StatReporter::Start(const std::wstring& statisticsType, const std::wstring& header,
                         const StatServer& server) {
  if (workerStarted_) return true;
  type_ = WideToUtf8(statisticsType);
  header_ = WideToUtf8(header);
  server_ = server;
  if (header_.empty() || type_.empty()) return false;
  workerStarted_ = platform_.StartWorker(&StatReporter::WorkerEntry, this);
  if (!workerStarted_) DiagPrintf(L"StatReporter: the worker thread did not start\r\n");
  return workerStarted_;
}

void StatReporter::Enqueue(const StatRecord& record) {
  {
    Guard guard(platform_);
    if (pending_.size() > kPendingLimit && record.kind == kStatKindTrace) return;
    pending_.push_back(record);
  }
  platform_.Signal(1);
}

void StatReporter::FlushNow() { flush_.store(1); }

bool StatReporter::Stop() {
  if (!workerStarted_) return true;
  workerStarted_ = false;
  stopTick_.store(platform_.TickMs());
  stop_.store(1);
  platform_.Signal(2);
  if (platform_.JoinWorker(bound_.waitMs)) return true;
  DiagPrintf(L"StatReporter: still sending at the stop limit; the rest is given up\r\n");
  return false;
}

std::size_t StatReporter::PendingCount() {
  Guard guard(platform_);
  return pending_.size();
}

std::wstring StatReporter::AccumulatedText() {
  Guard guard(platform_);
  return FormatStatMap(accumulated_);
}

void StatReporter::WorkerEntry(void* self) { static_cast<StatReporter*>(self)->RunWorker(); }

void StatReporter::RunWorker() {
  for (;;) {
    const SignalWait wait = platform_.WaitSignal(kWaitMs);
    if (stop_.load() != 0) break;
    if (wait == SignalWait::kSignalled) {
      ProcessPending();
      continue;
    }
    if (wait != SignalWait::kTimedOut) return;  // a broken signal: end without flushing
    long expected = 1;
    if (flush_.compare_exchange_strong(expected, 0)) {
      SendAccumulated(false);
    } else if (static_cast<std::int64_t>(platform_.UnixSeconds()) - lastSendTime_ >
               kPeriodicSeconds) {
      SendAccumulated(false);
    }
  }
  FinalSends();
}

void StatReporter::FinalSends() {
  // The first pass sends what is pending; its attempts queue their outcome
  // traces, and later passes fold those in so that the last map carries the
  // outcome of every send before it. A pass of traces alone sends nothing.
  while (ProcessPending() > 0 && TimeLeftMs() > 0) {
  }
  SendAccumulated(true);
}

std::size_t StatReporter::ProcessPending() {
  DiagPrintf(L"ProcessPMLog\r\n");
  std::list<StatRecord> taken;
  {
    Guard guard(platform_);
    taken.swap(pending_);
  }
  std::vector<const StatRecord*> oneShots;
  for (const StatRecord& record : taken) {
    if (record.kind == kStatKindTrace) {
      Guard guard(platform_);
      MergeTrace(&accumulated_, record.values);
    } else {
      oneShots.push_back(&record);
    }
  }
  std::size_t givenUp = 0;
  for (const StatRecord* record : oneShots) {
    if (!SendWithRetries(FormatStatMap(record->values), L"RetrySendPMLog\r\n") &&
        TimeLeftMs() == 0) {
      ++givenUp;
    }
  }
  if (givenUp > 0) {
    DiagPrintf(L"StatReporter: %u report(s) given up at the stop limit\r\n",
               static_cast<unsigned>(givenUp));
  }
  return taken.size();
}

void StatReporter::SendAccumulated(bool withRetries) {
  DiagPrintf(L"ProcessRdLog\r\n");
  std::wstring line;
  {
    Guard guard(platform_);
    line = FormatStatMap(accumulated_);
  }
  if (withRetries) {
    SendWithRetries(line, L"RetrySendRDLog\r\n");
  } else if (TimeLeftMs() > 0) {
    SendLine(line);
  }
}

bool StatReporter::SendWithRetries(const std::wstring& line, const wchar_t* retryTrace) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (TimeLeftMs() == 0) return false;
    if (SendLine(line)) return true;
    DiagPrintf(retryTrace);
    const std::uint32_t pause = std::min(kRetryPauseMs, TimeLeftMs());
    if (pause > 0) platform_.Pause(pause);
  }
  return false;
}

bool StatReporter::SendLine(const std::wstring& line) {
  lastSendTime_ = platform_.UnixSeconds();
  const std::string body = BuildReportBody(header_, WideToUtf8(line));
  const long attempts = ++attempts_;
  const std::uint32_t timeoutMs = std::min(kPostTimeoutMs, TimeLeftMs());
  const PostOutcome outcome = sender_.Post(server_, BuildMultipartForm(type_, body), timeoutMs);
  const long failures = outcome.succeeded() ? failures_.load() : ++failures_;
  Enqueue(MakeTrace(L"sthp", FormatOutcome(outcome.stage, outcome.lastError, outcome.status,
                                           failures, attempts)));
  return outcome.succeeded();
}

std::uint32_t StatReporter::TimeLeftMs() {
  if (stop_.load() == 0) return std::numeric_limits<std::uint32_t>::max();
  const std::uint32_t spent = platform_.TickMs() - stopTick_.load();
  return spent < bound_.finalSendsMs ? bound_.finalSendsMs - spent : 0;
}
