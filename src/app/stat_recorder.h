#pragma once

#include <string>

#include "app/run_recorder.h"
#include "stat/cstat.h"
#include "stat/stat_reporter.h"

// The driver's statistics: phase stamps and texts from the run record, every
// record queued for upload by the report queue.
class StatRecorder : public RunRecorder {
 public:
  StatRecorder(CStat& stat, StatReporter& reporter) : stat_(stat), reporter_(reporter) {}

  void Stamp(int stat, int result, int extReason) override;
  int LastResult() const override { return stat_.result(); }
  int LastExtReason() const override { return stat_.extReason(); }
  void ReportRunning() override { stat_.LogReportRunning(); }
  void QueueRunningTrace() override { stat_.ReportRunning(); }
  void SetConfigVersion(const std::wstring& version) override { stat_.SetConfigVersion(version); }
  void SetSetupVersion(const std::wstring& version) override { stat_.SetSetupVersion(version); }
  void QueueStartRecord() override { reporter_.Enqueue(stat_.StartRecord()); }
  void EndReport() override;
  void QueueEndRecord() override { reporter_.Enqueue(stat_.EndRecord()); }
  void QueueTrace(const std::wstring& key, const std::wstring& value) override {
    reporter_.Enqueue(MakeTrace(key, value));
  }
  void FlushNow() override { reporter_.FlushNow(); }
  void StopUploader() override { reporter_.Stop(); }

 private:
  CStat& stat_;
  StatReporter& reporter_;
};
