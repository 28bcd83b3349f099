#include "run.h"

#include <algorithm>
#include <cstdlib>

namespace zstats {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Failure traces are grouped by value; longer values are cut to this.
constexpr size_t kMaxFailureTraceLength = 160;
constexpr int64_t kStepEnd = 999;

int64_t ToInt(const std::string& s) {
  if (s.empty()) return 0;
  return std::strtoll(s.c_str(), nullptr, 10);
}

bool Contains(const std::vector<int64_t>& steps, int64_t step) {
  return std::find(steps.begin(), steps.end(), step) != steps.end();
}

// Number after the last occurrence of `marker` in `text` (-1: none); the
// number ends at the first character that is not a digit.
int64_t NumberAfterLast(const std::string& text, const std::string& marker, size_t* where = nullptr) {
  size_t at = text.rfind(marker);
  if (at == std::string::npos) return -1;
  size_t p = at + marker.size();
  int64_t v = 0;
  bool any = false;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9' && v < (int64_t{1} << 50)) {
    v = v * 10 + (text[p++] - '0');
    any = true;
  }
  if (where) *where = p;
  return any ? v : -1;
}

std::string Cut(const std::string& s) { return s.size() <= kMaxFailureTraceLength ? s : s.substr(0, kMaxFailureTraceLength); }

// Upload outcomes "stage:error:status:failures:attempts" reduced to their
// distinct "stage:error:status", in order.
std::string UploadOutcomes(const std::string& sthp) {
  std::vector<std::string> seen;
  size_t pos = 0;
  while (pos <= sthp.size()) {
    size_t slash = sthp.find('/', pos);
    std::string item = sthp.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    pos = slash == std::string::npos ? sthp.size() + 1 : slash + 1;
    size_t c1 = item.find(':');
    size_t c2 = c1 == std::string::npos ? c1 : item.find(':', c1 + 1);
    size_t c3 = c2 == std::string::npos ? c2 : item.find(':', c2 + 1);
    std::string outcome = item.substr(0, c3);
    if (!outcome.empty() && std::find(seen.begin(), seen.end(), outcome) == seen.end()) seen.push_back(outcome);
  }
  std::string joined;
  for (const std::string& s : seen) joined += (joined.empty() ? "" : "/") + s;
  return joined;
}

}  // namespace

const char* FunnelStageName(int stage) {
  static const char* const kNames[kStageCount] = {"none", "configuration", "mode notice", "user's choice",
                                                  "attachment", "package", "trust", "go", "setup", "installed"};
  return stage >= 0 && stage < kStageCount ? kNames[stage] : "?";
}

std::string SpeedBucketLabel(int bucket) {
  auto fmt = [](double v) {
    std::string s = std::to_string(v);
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s;
  };
  if (bucket <= 0) return "< " + fmt(kSpeedBucketBounds[0]);
  if (bucket >= kSpeedBucketCount - 1) return ">= " + fmt(kSpeedBucketBounds[kSpeedBucketCount - 2]);
  return fmt(kSpeedBucketBounds[bucket - 1]) + "-" + fmt(kSpeedBucketBounds[bucket]);
}

std::string EndResultName(int64_t result) {
  switch (result) {
    case -1: return "no end record";
    case kResultInstalled: return "success";
    case 2: return "configuration download failed";
    case 3: return "configuration had no item";
    case kResultNotNeeded: return "no installation needed";
    case 5: return "attachment download failed";
    case 6: return "package download failed";
    case 7: return "package not trusted";
    case 8: return "setup could not be launched";
    case 9: return "user did not install";
    case 11: return "cancelled before the first step";
    case 12: return "not installed after setup";
    default: return "result " + std::to_string(result);
  }
}

std::string OsName(int64_t os_code, int64_t os_build) {
  auto sp = [](int64_t n) { return n == 0 ? std::string() : " SP" + std::to_string(n); };
  if (os_code >= 100 && os_code <= 103) return "Windows XP" + sp(os_code - 100);
  if (os_code >= 104 && os_code <= 106) return "Windows Server 2003" + sp(os_code - 104);
  if (os_code >= 110 && os_code <= 112) return "Windows Vista" + sp(os_code - 110);
  if (os_code >= 120 && os_code <= 122) return "Windows Server 2008" + sp(os_code - 120);
  if (os_code == 123) return "Windows Server 2008 R2";
  if (os_code == 130) return "Windows 7";
  if (os_code == 0 && os_build >= 9200) return "Windows 8 or later";
  return "other (code " + std::to_string(os_code) + ")";
}

std::vector<std::pair<std::string, std::string>> TracePairs(const std::string& line) {
  // The kept line was accepted at ingest; a word it cannot split is dropped.
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string ignored;
  SplitRecordLine(line, &pairs, &ignored);
  return pairs;
}

std::vector<std::pair<int64_t, int64_t>> PhaseSteps(const std::string& p_trc) {
  std::vector<std::pair<int64_t, int64_t>> steps;
  size_t pos = 0;
  while (pos < p_trc.size()) {
    size_t slash = p_trc.find('/', pos);
    std::string item = p_trc.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    pos = slash == std::string::npos ? p_trc.size() : slash + 1;
    size_t colon = item.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    char* end = nullptr;
    int64_t step = std::strtoll(item.c_str(), &end, 10);
    if (end != item.c_str() + colon) continue;
    steps.emplace_back(step, ToInt(item.substr(colon + 1)));
  }
  return steps;
}

void DeriveColumns(RunRow* row) {
  row->os_name = OsName(row->os_code, row->os_build);
  std::map<std::string, std::string> traces;
  for (auto& [k, v] : TracePairs(row->traces)) traces[k] = v;

  std::vector<int64_t> steps;
  for (auto& [step, ms] : PhaseSteps(traces["p_trc"])) steps.push_back(step);
  row->last_step = 0;
  for (int64_t s : steps) {
    if (s != kStepEnd) row->last_step = s;
  }

  const std::string& dstp = traces["dstp"];
  size_t cks1 = dstp.rfind(";cks1"), cks0 = dstp.rfind(";cks0");
  if (cks1 == std::string::npos && cks0 == std::string::npos) row->trust = -1;
  else row->trust = (cks1 != std::string::npos && (cks0 == std::string::npos || cks1 > cks0)) ? 1 : 0;

  // The download trace's end entry "dse0:<result>,<ms>" and the received
  // bytes of its final "cofm0:<bytes>".
  row->pkg_bytes = row->pkg_ms = 0;
  row->speed_bucket = -1;
  size_t after = 0;
  int64_t dse_result = NumberAfterLast(dstp, ":dse0:", &after);
  int64_t bytes = NumberAfterLast(dstp, ":cofm0:");
  if (dse_result == 0 && after < dstp.size() && dstp[after] == ',' && bytes > 0) {
    int64_t ms = NumberAfterLast(dstp.substr(0, dstp.find(';', after)), ",");
    if (ms > 0) {
      row->pkg_bytes = bytes;
      row->pkg_ms = ms;
      double mb_per_s = static_cast<double>(bytes) / 1e6 / (static_cast<double>(ms) / 1000.0);
      int bucket = 0;
      while (bucket < kSpeedBucketCount - 1 && mb_per_s >= kSpeedBucketBounds[bucket]) ++bucket;
      row->speed_bucket = bucket;
    }
  }

  row->installed = row->has_end && row->end_result == kResultInstalled;

  // The funnel stage from the steps the run recorded.
  int stage = kStageNone;
  if (Contains(steps, 5) || Contains(steps, 7)) stage = kStageConfiguration;
  if (Contains(steps, 8)) stage = kStageModeNotice;
  if (Contains(steps, 9)) stage = kStageChoice;
  if (Contains(steps, 11)) stage = kStageAttachment;
  auto package_at = std::find(steps.begin(), steps.end(), 13);
  if (package_at != steps.end()) {
    stage = kStagePackage;
    bool trusted = row->trust == 1 || Contains(steps, 16);
    if (trusted) stage = kStageTrust;
    // The go request is answered when the driver goes on after the package:
    // the mode check of the downloaded setup, its launch or the final check.
    bool go = std::any_of(package_at, steps.end(), [](int64_t s) { return s == 8 || s == 9 || s == 16 || s == 19; });
    if (trusted && go) stage = kStageGo;
    if (trusted && go && Contains(steps, 17)) stage = kStageSetup;
  }
  if (row->installed) stage = kStageInstalled;
  row->funnel_stage = stage;

  if (row->installed) {
    row->fail_csgn.clear();
    row->fail_pcfg.clear();
    row->fail_sthp.clear();
    row->fail_rstp.clear();
  } else {
    row->fail_csgn = Cut(traces["csgn"]);
    row->fail_pcfg = Cut(traces["pcfg"]);
    row->fail_sthp = Cut(UploadOutcomes(traces["sthp"]));
    row->fail_rstp = Cut(traces["rstp"]);
  }
}

bool MergeReport(const Report& report, int64_t now, RunRow* row) {
  const ReportHeader& h = report.header;
  bool changed = false;
  if (row->sid.empty()) row->sid = h.sid;
  if (row->first_seen == 0) {
    row->first_seen = now;
    row->day = now / kSecondsPerDay;
    changed = true;
  }
  auto fill = [&](std::string* field, const std::string& value) {
    if (field->empty() && !value.empty()) {
      *field = value;
      changed = true;
    }
  };
  fill(&row->channel, h.channel);
  fill(&row->version, h.version);
  fill(&row->pc_code, h.pc_code);
  fill(&row->uinf, h.uinf);
  fill(&row->start_text, h.time);
  fill(&row->rnd, h.rnd);
  if (row->os_code == 0 && h.os_code != 0) { row->os_code = h.os_code; changed = true; }
  if (row->os_build == 0 && h.os_build != 0) { row->os_build = h.os_build; changed = true; }

  if (report.one_shot) {
    if (report.src == "Start" && !row->has_start) {
      row->has_start = true;
      changed = true;
    } else if (report.src == "End") {
      row->has_end = true;
      row->end_stat = ToInt(report.Get("Stat"));
      row->end_result = ToInt(report.Get("Result"));
      row->end_ext = ToInt(report.Get("ExtReason"));
      row->t_diff = ToInt(report.Get("t_diff"));
      row->t_dlc = ToInt(report.Get("t_dlc"));
      row->t_dlsxml = ToInt(report.Get("t_dlsxml"));
      row->t_dls = ToInt(report.Get("t_dls"));
      row->t_ins = ToInt(report.Get("t_ins"));
      row->cfgver = report.Get("Cfgver");
      row->stpver = report.Get("Stpver");
      changed = true;
    }
  } else if (report.line.size() >= row->traces.size() && report.line != row->traces) {
    // Each send of the accumulated map holds everything since the start, so
    // the longest one is the latest; an older one arriving late is ignored.
    row->traces = report.line;
    changed = true;
  }
  if (changed || row->last_seen < now) row->last_seen = std::max(row->last_seen, now);
  DeriveColumns(row);
  return changed;
}

}  // namespace zstats
