#pragma once

#include <string>

// The statistics calls of the driver and its steps: phase stamps of the run
// record, the running report, and the report queue's start/end handling.
class RunRecorder {
 public:
  virtual ~RunRecorder() = default;

  // Records the phase triple (Stat, Result, ExtReason).
  virtual void Stamp(int stat, int result, int extReason) = 0;
  virtual int LastResult() const = 0;
  virtual int LastExtReason() const = 0;

  // Writes the "[CStat::LogReportRunning]" line and queues the p_trc trace.
  virtual void ReportRunning() = 0;
  // Queues the p_trc trace only (used after the post-install check).
  virtual void QueueRunningTrace() = 0;

  virtual void SetConfigVersion(const std::wstring& version) = 0;
  virtual void SetSetupVersion(const std::wstring& version) = 0;

  virtual void QueueStartRecord() = 0;
  // Writes the "[CStat::LogReportEnd]" line, then reports running.
  virtual void EndReport() = 0;
  virtual void QueueEndRecord() = 0;
  // Queues a trace record with one key (the steps' "dcf", "dstp", ... traces).
  virtual void QueueTrace(const std::wstring& key, const std::wstring& value) = 0;

  virtual void FlushNow() = 0;
  virtual void StopUploader() = 0;
};

// The phase table: the step (Stat) each driver step stamps and the Result
// it stamps with it. ExtReason is 0, 1, a mode or an error code.
namespace phase {
enum Stat : int {
  kConfigDownloadStarts = 2,
  kConfigDownloadEnded = 3,
  kConfigParseStarts = 4,
  kConfigParsed = 5,
  kFallbackStarts = 6,
  kFallbackAdded = 7,
  kModeStarts = 8,
  kModeApplied = 9,
  kAttachmentDownloadStarts = 10,
  kAttachmentDownloadEnded = 11,
  kSetupDownloadStarts = 12,
  kSetupDownloadEnded = 13,
  kSetupLaunchStarts = 16,
  kSetupLaunchEnded = 17,
  kUserCommand = 18,
  kPostInstallCheck = 19,
  kRunEnd = 999,
};
enum Result : int {
  kStarted = 0,
  kSucceeded = 1,
  kConfigDownloadFailed = 2,
  kNoItemRead = 3,
  kModeNotZero = 4,
  kAttachmentDownloadFailed = 5,
  kSetupDownloadFailed = 6,
  kSetupNotTrusted = 7,
  kSetupLaunchFailed = 8,
  kNotInstallCommand = 9,
  kCancelledBeforeStart = 11,
  kProductNotInstalled = 12,
};
}  // namespace phase

// A phase record followed by the running report, as every step records it.
inline void RecordPhase(RunRecorder& recorder, int stat, int result, int extReason) {
  recorder.Stamp(stat, result, extReason);
  recorder.ReportRunning();
}
