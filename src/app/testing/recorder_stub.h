#pragma once

#include <string>

#include "app/run_recorder.h"

// A RunRecorder that drops everything; tests override what they watch.
class RecorderStub : public RunRecorder {
 public:
  void Stamp(int, int, int) override {}
  int LastResult() const override { return 0; }
  int LastExtReason() const override { return 0; }
  void ReportRunning() override {}
  void QueueRunningTrace() override {}
  void SetConfigVersion(const std::wstring&) override {}
  void SetSetupVersion(const std::wstring&) override {}
  void QueueStartRecord() override {}
  void EndReport() override {}
  void QueueEndRecord() override {}
  void QueueTrace(const std::wstring&, const std::wstring&) override {}
  void FlushNow() override {}
  void StopUploader() override {}
};
