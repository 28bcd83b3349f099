#pragma once

#include <chrono>
#include <string>

#include "app/run_recorder.h"

// Interim statistics: keeps the phase triple and the run's start time and
// writes every report to the standard error stream instead of queueing it for
// upload. Replaced by the statistics record and report queue.
class StderrRecorder : public RunRecorder {
 public:
  StderrRecorder();

  void Stamp(int stat, int result, int extReason) override;
  int LastResult() const override { return result_; }
  int LastExtReason() const override { return extReason_; }
  void ReportRunning() override;
  void QueueRunningTrace() override;
  void SetConfigVersion(const std::wstring& version) override { configVersion_ = version; }
  void SetSetupVersion(const std::wstring& version) override { setupVersion_ = version; }
  void QueueStartRecord() override;
  void EndReport() override;
  void QueueEndRecord() override;
  void QueueTrace(const std::wstring& key, const std::wstring& value) override;
  void FlushNow() override {}
  void StopUploader() override {}

  // "%d:%ld": last step and milliseconds since the start.
  std::wstring RunningText() const;
  long ElapsedMs() const;

 private:
  std::chrono::steady_clock::time_point start_;
  int stat_ = 1;
  int result_ = 0;
  int extReason_ = 0;
  std::wstring configVersion_;
  std::wstring setupVersion_;
};
