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

// A phase record followed by the running report, as every step records it.
inline void RecordPhase(RunRecorder& recorder, int stat, int result, int extReason) {
  recorder.Stamp(stat, result, extReason);
  recorder.ReportRunning();
}
