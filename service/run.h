// One installer run (one Sid) as the stores keep it: what its reports said,
// merged, and the columns the dashboard groups by, derived once at ingest.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report_form.h"

namespace zstats {

// Stages of the install funnel, in order; a run's funnel_stage is the last
// one it reached (0: none).
enum FunnelStage : int {
  kStageNone = 0,
  kStageConfiguration,  // configuration read, or the fallback item built
  kStageModeNotice,     // mode computed, the user asked
  kStageChoice,         // the user confirmed the installation
  kStageAttachment,     // attachment download finished
  kStagePackage,        // package download finished
  kStageTrust,          // package trusted and in place
  kStageGo,             // go request answered
  kStageSetup,          // setup launched and finished
  kStageInstalled,      // the run ended with the product installed
  kStageCount
};
const char* FunnelStageName(int stage);

// Buckets of the package download speed histogram, in MB/s (upper bounds).
constexpr double kSpeedBucketBounds[] = {0.25, 0.5, 1, 2, 5, 10, 20, 50};
constexpr int kSpeedBucketCount = sizeof(kSpeedBucketBounds) / sizeof(kSpeedBucketBounds[0]) + 1;
std::string SpeedBucketLabel(int bucket);

// Name of an end record's Result code (the last phase's result).
std::string EndResultName(int64_t result);
// The Result codes the summary treats apart: installed, and no installation
// needed (the product was there already, not a failure).
constexpr int64_t kResultInstalled = 1;
constexpr int64_t kResultNotNeeded = 4;
// Name of the header's OS code and build.
std::string OsName(int64_t os_code, int64_t os_build);

struct RunRow {
  std::string sid;
  int64_t first_seen = 0;  // server time of the first report, seconds since 1970
  int64_t last_seen = 0;
  int64_t day = 0;         // first_seen / 86400
  // From the header.
  std::string channel, version, pc_code, uinf, start_text, rnd;
  int64_t os_code = 0, os_build = 0;
  // From the one-shot records.
  bool has_start = false, has_end = false;
  int64_t end_stat = 0, end_result = -1, end_ext = 0, t_diff = 0;
  int64_t t_dlc = 0, t_dlsxml = 0, t_dls = 0, t_ins = 0;
  std::string cfgver, stpver;
  // The latest (longest) accumulated trace map, as its record line.
  std::string traces;
  // Derived at ingest.
  std::string os_name;
  int64_t last_step = 0, funnel_stage = 0;
  bool installed = false;
  int64_t pkg_bytes = 0, pkg_ms = 0, speed_bucket = -1, trust = -1;
  std::string fail_csgn, fail_pcfg, fail_sthp, fail_rstp;
};

// Folds one report into a run (a new run when `row` has no sid yet) and
// recomputes the derived columns. Returns false when the report changes
// nothing (an accumulated map shorter than the one kept).
bool MergeReport(const Report& report, int64_t now, RunRow* row);

// Recomputes the derived columns from the kept values.
void DeriveColumns(RunRow* row);

// The step codes of a trace map's p_trc value with their elapsed ms, in order.
std::vector<std::pair<int64_t, int64_t>> PhaseSteps(const std::string& p_trc);
// The accumulated map's pairs (parsed from its record line).
std::vector<std::pair<std::string, std::string>> TracePairs(const std::string& line);

}  // namespace zstats
