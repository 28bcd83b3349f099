#pragma once

#include <cstdint>
#include <string>

#include "stat/stat_environment.h"
#include "stat/stat_record.h"

// The process-wide record of one installer run: who runs it, which channel
// started it, which step it reached, how it ended and how long each network
// and installation phase took. It builds the header line that precedes every
// report line, and the start, end and running records.
class CStat {
 public:
  // The phase timers and the step codes that start and end them.
  enum Phase { kPhaseConfig, kPhaseAttachment, kPhaseSetupDownload, kPhaseInstall, kPhaseCount };

  static const wchar_t kOperation[];  // "Functionwebinst"
  static const wchar_t kMode[];       // "Clickonce"

  CStat(StatEnvironment& environment, StatSink& sink);
  CStat(const CStat&) = delete;
  CStat& operator=(const CStat&) = delete;

  // The single record of the process (Windows), created on first call.
  static CStat& Instance();

  // Fills the run identity; channel and tag are taken only when non-empty.
  void Initialise(const std::wstring& channel, const std::wstring& randomTag);
  void SetConfigVersion(const std::wstring& version) { configVersion_ = version; }
  void SetSetupVersion(const std::wstring& version) { setupVersion_ = version; }

  // Records the phase triple; a phase start or end step also starts or ends
  // that phase's timer.
  void Stamp(int step, int result, int extReason);

  // Milliseconds since initialisation (low 32 bits).
  long Elapsed();

  std::wstring HeaderLine() const;
  std::wstring EndLine();
  // "step:elapsed".
  std::wstring RunningText();

  // Queues the running text as the trace "p_trc".
  void ReportRunning();
  // The diagnostic line with the running text, then ReportRunning.
  void LogReportRunning();
  // The diagnostic line with the header line and the end line.
  void LogReportEnd();

  StatRecord StartRecord() const;
  StatRecord EndRecord();

  int step() const { return step_; }
  int result() const { return result_; }
  int extReason() const { return extReason_; }
  long PhaseDuration(Phase phase) const { return phases_[phase].durationMs; }
  const std::wstring& runId() const { return runId_; }
  const std::wstring& version() const { return version_; }
  const std::wstring& startText() const { return startText_; }
  int osCode() const { return osCode_; }

 private:
  struct PhaseSlot {
    LocalTime start;
    LocalTime end;
    std::int32_t durationMs = 0;
  };

  StatEnvironment& environment_;
  StatSink& sink_;

  std::wstring runId_;
  std::wstring operation_;
  std::wstring channel_;
  std::wstring randomTag_;
  std::wstring machineId_;
  std::wstring fingerprint_;
  std::wstring version_;
  std::wstring mode_;
  std::wstring startText_;
  std::wstring configVersion_;
  std::wstring setupVersion_;
  int osCode_ = 0;
  std::uint32_t osBuild_ = 0;
  LocalTime startTime_;
  PhaseSlot phases_[kPhaseCount];
  int step_ = 0;
  int result_ = 0;
  int extReason_ = 0;
};

// "%08X-%04X-%04X-" and the last eight bytes as "%02X" each, no braces.
std::wstring FormatRunId(const RunGuid& guid);
// "%04d_%02d_%02d_%02d_%02d_%02d".
std::wstring FormatStartText(const LocalTime& time);
// The four parts joined by dots.
std::wstring FormatVersion(const std::uint16_t parts[4]);
// (to - from) in milliseconds, low 32 bits.
std::int32_t MillisecondsBetween(const LocalTime& from, const LocalTime& to);
