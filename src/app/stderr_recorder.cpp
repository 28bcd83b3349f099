#include "app/stderr_recorder.h"

#include "sys/diag.h"

StderrRecorder::StderrRecorder() : start_(std::chrono::steady_clock::now()) {}

long StderrRecorder::ElapsedMs() const {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start_)
                               .count());
}

std::wstring StderrRecorder::RunningText() const {
  return std::to_wstring(stat_) + L":" + std::to_wstring(ElapsedMs());
}

void StderrRecorder::Stamp(int stat, int result, int extReason) {
  stat_ = stat;
  result_ = result;
  extReason_ = extReason;
  DiagPrintf(L"[stat] phase %d %d %d\r\n", stat, result, extReason);
}

void StderrRecorder::ReportRunning() {
  const std::wstring text = RunningText();
  DiagPrintf(L"[CStat::LogReportRunning] - %ls\r\n", text.c_str());
  QueueTrace(L"p_trc", text);
}

void StderrRecorder::QueueRunningTrace() { QueueTrace(L"p_trc", RunningText()); }

void StderrRecorder::QueueStartRecord() { DiagPrintf(L"[stat] record src=Start t_diff=0\r\n"); }

void StderrRecorder::EndReport() {
  DiagPrintf(L"[CStat::LogReportEnd] - t_diff=%ld Stat=%d Result=%d ExtReason=%d Cfgver=%ls Stpver=%ls\r\n",
             ElapsedMs(), stat_, result_, extReason_, configVersion_.c_str(), setupVersion_.c_str());
  ReportRunning();
}

void StderrRecorder::QueueEndRecord() {
  DiagPrintf(L"[stat] record src=End t_diff=%ld Stat=%d Result=%d ExtReason=%d\r\n", ElapsedMs(),
             stat_, result_, extReason_);
}

void StderrRecorder::QueueTrace(const std::wstring& key, const std::wstring& value) {
  DiagPrintf(L"[stat] trace %ls=%ls\r\n", key.c_str(), value.c_str());
}
