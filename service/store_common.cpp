#include "store.h"

#include <openssl/evp.h>

#include <algorithm>
#include <map>

namespace zstats {
namespace {

void AddGroup(std::vector<GroupCount>* groups, const std::string& key, int64_t runs, int64_t installed) {
  for (GroupCount& g : *groups) {
    if (g.key == key) {
      g.runs += runs;
      g.installed += installed;
      return;
    }
  }
  groups->push_back({key, runs, installed});
}

}  // namespace

const std::vector<RunColumn>& RunColumns() {
  using K = RunColumn;
  static const std::vector<RunColumn> kColumns = {
      {"sid", K::kText, &RunRow::sid, nullptr, nullptr},
      {"first_seen", K::kInt, nullptr, &RunRow::first_seen, nullptr},
      {"last_seen", K::kInt, nullptr, &RunRow::last_seen, nullptr},
      {"day", K::kInt, nullptr, &RunRow::day, nullptr},
      {"channel", K::kText, &RunRow::channel, nullptr, nullptr},
      {"version", K::kText, &RunRow::version, nullptr, nullptr},
      {"pc_code", K::kText, &RunRow::pc_code, nullptr, nullptr},
      {"uinf", K::kText, &RunRow::uinf, nullptr, nullptr},
      {"start_text", K::kText, &RunRow::start_text, nullptr, nullptr},
      {"rnd", K::kText, &RunRow::rnd, nullptr, nullptr},
      {"os_code", K::kInt, nullptr, &RunRow::os_code, nullptr},
      {"os_build", K::kInt, nullptr, &RunRow::os_build, nullptr},
      {"has_start", K::kFlag, nullptr, nullptr, &RunRow::has_start},
      {"has_end", K::kFlag, nullptr, nullptr, &RunRow::has_end},
      {"end_stat", K::kInt, nullptr, &RunRow::end_stat, nullptr},
      {"end_result", K::kInt, nullptr, &RunRow::end_result, nullptr},
      {"end_ext", K::kInt, nullptr, &RunRow::end_ext, nullptr},
      {"t_diff", K::kInt, nullptr, &RunRow::t_diff, nullptr},
      {"t_dlc", K::kInt, nullptr, &RunRow::t_dlc, nullptr},
      {"t_dlsxml", K::kInt, nullptr, &RunRow::t_dlsxml, nullptr},
      {"t_dls", K::kInt, nullptr, &RunRow::t_dls, nullptr},
      {"t_ins", K::kInt, nullptr, &RunRow::t_ins, nullptr},
      {"cfgver", K::kText, &RunRow::cfgver, nullptr, nullptr},
      {"stpver", K::kText, &RunRow::stpver, nullptr, nullptr},
      {"traces", K::kText, &RunRow::traces, nullptr, nullptr},
      {"os_name", K::kText, &RunRow::os_name, nullptr, nullptr},
      {"last_step", K::kInt, nullptr, &RunRow::last_step, nullptr},
      {"funnel_stage", K::kInt, nullptr, &RunRow::funnel_stage, nullptr},
      {"installed", K::kFlag, nullptr, nullptr, &RunRow::installed},
      {"pkg_bytes", K::kInt, nullptr, &RunRow::pkg_bytes, nullptr},
      {"pkg_ms", K::kInt, nullptr, &RunRow::pkg_ms, nullptr},
      {"speed_bucket", K::kInt, nullptr, &RunRow::speed_bucket, nullptr},
      {"trust", K::kInt, nullptr, &RunRow::trust, nullptr},
      {"fail_csgn", K::kText, &RunRow::fail_csgn, nullptr, nullptr},
      {"fail_pcfg", K::kText, &RunRow::fail_pcfg, nullptr, nullptr},
      {"fail_sthp", K::kText, &RunRow::fail_sthp, nullptr, nullptr},
      {"fail_rstp", K::kText, &RunRow::fail_rstp, nullptr, nullptr},
  };
  return kColumns;
}

std::string RunColumnList() {
  std::string list;
  for (const RunColumn& c : RunColumns()) list += (list.empty() ? "" : ", ") + std::string(c.name);
  return list;
}

std::string FailureTraceQuery(const std::string& key, const std::string& filter_clause) {
  std::string column = "fail_" + key;
  // A run that needed no installation did not fail, though it did not install.
  return "SELECT end_result, " + column + ", count(*) AS n FROM runs" + filter_clause + " AND installed = 0 AND end_result <> " +
         std::to_string(kResultNotNeeded) + " AND " + column + " <> '' GROUP BY end_result, " + column +
         " ORDER BY n DESC, end_result, " + column + " LIMIT " + std::to_string(kFailureTracesPerKey);
}

void AddCubeRow(const CubeRow& row, Summary* s) {
  s->runs += row.runs;
  s->installed += row.installed ? row.runs : 0;
  for (int stage = 1; stage <= row.funnel_stage && stage < kStageCount; ++stage) s->funnel[stage] += row.runs;
  if (row.speed_bucket >= 0 && row.speed_bucket < kSpeedBucketCount) s->speed[row.speed_bucket] += row.runs;
  int64_t installed = row.installed ? row.runs : 0;
  AddGroup(&s->end_results, std::to_string(row.end_result), row.runs, installed);
  AddGroup(&s->channels, row.channel, row.runs, installed);
  AddGroup(&s->os, row.os_name, row.runs, installed);
  AddGroup(&s->days, std::to_string(row.day), row.runs, installed);
}

void FinishSummary(Summary* s) {
  s->funnel[0] = s->runs;
  auto by_runs = [](const GroupCount& a, const GroupCount& b) { return a.runs != b.runs ? a.runs > b.runs : a.key < b.key; };
  std::sort(s->end_results.begin(), s->end_results.end(), by_runs);
  std::sort(s->channels.begin(), s->channels.end(), by_runs);
  std::sort(s->os.begin(), s->os.end(), by_runs);
  std::sort(s->days.begin(), s->days.end(),
            [](const GroupCount& a, const GroupCount& b) { return std::stoll(a.key) < std::stoll(b.key); });
  std::stable_sort(s->failure_traces.begin(), s->failure_traces.end(), [](const FailureTrace& a, const FailureTrace& b) {
    if (a.end_result != b.end_result) return a.end_result < b.end_result;
    if (a.runs != b.runs) return a.runs > b.runs;
    return a.key != b.key ? a.key < b.key : a.value < b.value;
  });
}

std::string Sha256Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::unique_ptr<Store> OpenStore(const std::string& db, std::string* error) {
  if (db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0 || db.find("dbname=") != std::string::npos)
    return OpenPostgresStore(db, error);
  return OpenSqliteStore(db, error);
}

}  // namespace zstats
