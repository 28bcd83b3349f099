#include "stat/cstat.h"

#include <cwchar>

#include "stat/stat_text.h"
#include "sys/diag.h"
#include "sys/text_format.h"

namespace {

struct PhaseSteps {
  int startStep;
  int endStep;
};

// Indexed by CStat::Phase: t_dlc, t_dlsxml, t_dls, t_ins.
const PhaseSteps kPhaseSteps[CStat::kPhaseCount] = {{2, 3}, {10, 11}, {12, 13}, {16, 17}};

std::wstring Decimal(long value) { return DecimalText(value); }

}  // namespace

const wchar_t CStat::kOperation[] = L"Functionwebinst";
const wchar_t CStat::kMode[] = L"Clickonce";

std::wstring FormatRunId(const RunGuid& g) {
  wchar_t text[40] = {};
  FormatWide(text, 40, L"%08X-%04X-%04X-%02X%02X%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2),
                static_cast<unsigned>(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

std::wstring FormatStartText(const LocalTime& t) {
  wchar_t text[40] = {};
  FormatWide(text, 40, L"%04d_%02d_%02d_%02d_%02d_%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::wstring FormatVersion(const std::uint16_t parts[4]) {
  return DecimalText(parts[0]) + L"." + DecimalText(parts[1]) + L"." +
         DecimalText(parts[2]) + L"." + DecimalText(parts[3]);
}

std::int32_t MillisecondsBetween(const LocalTime& from, const LocalTime& to) {
  const std::int64_t difference =
      static_cast<std::int64_t>(to.fileTime) - static_cast<std::int64_t>(from.fileTime);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(difference / 10000));
}

CStat::CStat(StatEnvironment& environment, StatSink& sink)
    : environment_(environment), sink_(sink) {}

void CStat::Initialise(const std::wstring& channel, const std::wstring& randomTag) {
  runId_ = FormatRunId(environment_.NewRunGuid());
  operation_ = kOperation;
  if (!channel.empty()) channel_ = channel;
  if (!randomTag.empty()) randomTag_ = randomTag;
  std::uint16_t parts[4] = {};
  version_ = environment_.ReadFileVersion(parts) ? FormatVersion(parts) : std::wstring();
  mode_ = kMode;
  machineId_ = environment_.MachineIdentifier();
  fingerprint_ = environment_.SoftwareFingerprint();
  const OsVersionData os = environment_.QueryOsVersion();
  osCode_ = OsCodeFor(os);
  osBuild_ = OsBuildFor(os);
  startTime_ = environment_.LocalNow();
  startText_ = FormatStartText(startTime_);
  step_ = 1;
  result_ = 0;
  extReason_ = 0;
}

void CStat::Stamp(int step, int result, int extReason) {
  step_ = step;
  result_ = result;
  extReason_ = extReason;
  for (int i = 0; i < kPhaseCount; ++i) {
    PhaseSlot& slot = phases_[i];
    if (step == kPhaseSteps[i].startStep) {
      slot.start = environment_.LocalNow();
    } else if (step == kPhaseSteps[i].endStep) {
      slot.end = environment_.LocalNow();
      // A phase that ends without having started keeps 0 rather than the
      // distance from 1601.
      slot.durationMs = slot.start.fileTime != 0 ? MillisecondsBetween(slot.start, slot.end) : 0;
    }
  }
}

long CStat::Elapsed() {
  if (startTime_.fileTime == 0) return 0;
  return MillisecondsBetween(startTime_, environment_.LocalNow());
}

std::wstring CStat::HeaderLine() const {
  return std::wstring(L"Op=") + kOperation + L" Type=vxdowninstall2" + L" Version=" + version_ +
         L" Sid=" + runId_ + L" From=" + EscapeHeaderValue(channel_) + L" Mode=" + mode_ + L" PcCode=" + machineId_ +
         L" Uinf=" + fingerprint_ + L" Time=" + startText_ + L" Rnd=" + EscapeHeaderValue(randomTag_) +
         L" Osv=" + DecimalText(osCode_) + L" Osvi=" + DecimalText(osBuild_);
}

std::wstring CStat::EndLine() {
  return L"t_diff=" + Decimal(Elapsed()) + L" Stat=" + Decimal(step_) + L" Result=" +
         Decimal(result_) + L" ExtReason=" + Decimal(extReason_) + L" t_dlc=" +
         Decimal(phases_[kPhaseConfig].durationMs) + L" t_dlsxml=" +
         Decimal(phases_[kPhaseAttachment].durationMs) + L" t_dls=" +
         Decimal(phases_[kPhaseSetupDownload].durationMs) + L" t_ins=" +
         Decimal(phases_[kPhaseInstall].durationMs) + L" Cfgver=" + configVersion_ +
         L" Stpver=" + setupVersion_;
}

std::wstring CStat::RunningText() { return Decimal(step_) + L":" + Decimal(Elapsed()); }

void CStat::ReportRunning() { sink_.Enqueue(MakeTrace(L"p_trc", RunningText())); }

void CStat::LogReportRunning() {
  const std::wstring text = RunningText();
  DiagPrintf(L"[CStat::LogReportRunning] - %ls\r\n", text.c_str());
  sink_.Enqueue(MakeTrace(L"p_trc", text));
}

void CStat::LogReportEnd() {
  const std::wstring header = HeaderLine();
  const std::wstring end = EndLine();
  DiagPrintf(L"[CStat::LogReportEnd] - %ls %ls\r\n", header.c_str(), end.c_str());
}

StatRecord CStat::StartRecord() const {
  StatRecord record;
  record.kind = kStatKindOneShot;
  record.values[L"src"] = L"Start";
  record.values[L"t_diff"] = L"0";
  return record;
}

StatRecord CStat::EndRecord() {
  StatRecord record;
  record.kind = kStatKindOneShot;
  StatMap& v = record.values;
  v[L"src"] = L"End";
  v[L"t_diff"] = Decimal(Elapsed());
  v[L"Stat"] = Decimal(step_);
  v[L"Result"] = Decimal(result_);
  v[L"ExtReason"] = Decimal(extReason_);
  v[L"t_dlc"] = Decimal(phases_[kPhaseConfig].durationMs);
  v[L"t_dlsxml"] = Decimal(phases_[kPhaseAttachment].durationMs);
  v[L"t_dls"] = Decimal(phases_[kPhaseSetupDownload].durationMs);
  v[L"t_ins"] = Decimal(phases_[kPhaseInstall].durationMs);
  v[L"Cfgver"] = configVersion_;
  v[L"Stpver"] = setupVersion_;
  return record;
}
