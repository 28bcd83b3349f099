// The statistics store: one schema, two back ends (SQLite, PostgreSQL).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "report_form.h"
#include "run.h"

namespace zstats {

// Which runs a summary covers: days since 1970 (UTC, of the run's first
// report), both ends included, and one channel or all (empty).
struct Filter {
  int64_t day_from = 0;
  int64_t day_to = 0;
  std::string channel;
  bool all_channels = true;
};

struct GroupCount {
  std::string key;
  int64_t runs = 0;
  int64_t installed = 0;
};

struct FailureTrace {
  int64_t end_result = -1;
  std::string key;    // csgn, pcfg, sthp or rstp
  std::string value;
  int64_t runs = 0;
};

struct Summary {
  int64_t runs = 0;
  int64_t installed = 0;
  int64_t funnel[kStageCount] = {};        // runs that reached at least each stage
  int64_t speed[kSpeedBucketCount] = {};   // runs per download speed bucket
  std::vector<GroupCount> end_results;     // key: the end record's Result code
  std::vector<GroupCount> channels, os, days;  // days: key is the day number
  std::vector<FailureTrace> failure_traces;    // most frequent first
};

// A one-shot record as stored.
struct StoredRecord {
  std::string src;
  std::string line;
  int64_t received = 0;
};

// One grouped row of the runs table, as the summary query returns it.
struct CubeRow {
  std::string channel, os_name;
  int64_t day = 0, end_result = -1, funnel_stage = 0, speed_bucket = -1, installed = 0, runs = 0;
};
// Adds a grouped row to a summary (the same reduction for every back end).
void AddCubeRow(const CubeRow& row, Summary* summary);
// Sorts the summary's groups for display.
void FinishSummary(Summary* summary);

class Store {
 public:
  virtual ~Store() = default;
  // Folds the reports into their runs in one transaction and commits it
  // durably; false (and nothing applied) on failure. One-shot records that
  // are already stored (a retry) are skipped.
  virtual bool Apply(const std::vector<const Report*>& reports, int64_t now, std::string* error) = 0;
  virtual bool Summarize(const Filter& filter, Summary* summary, std::string* error) = 0;
  // false with an empty error: no such run.
  virtual bool LoadRun(const std::string& sid, RunRow* row, std::vector<StoredRecord>* records, std::string* error) = 0;
  virtual bool ListChannels(std::vector<std::string>* channels, std::string* error) = 0;
  // The filter's newest runs (by first day, then last report), at most `limit`.
  virtual bool ListRuns(const Filter& filter, int64_t limit, std::vector<RunRow>* runs, std::string* error) = 0;
  // Deletes up to `max_runs` runs whose last report is older than `cutoff`
  // (seconds since 1970), with their records, in one transaction. Returns
  // the number deleted, or -1 on failure.
  virtual int64_t DeleteOlderThan(int64_t cutoff, int64_t max_runs, std::string* error) = 0;
  // Number of stored runs and one-shot records (tests, import progress).
  virtual bool Count(int64_t* runs, int64_t* records, std::string* error) = 0;
};

// "postgresql://..." or "postgres://..." (or "host=... dbname=...") opens
// PostgreSQL; anything else is an SQLite file path. Creates the schema.
std::unique_ptr<Store> OpenStore(const std::string& db, std::string* error);
std::unique_ptr<Store> OpenSqliteStore(const std::string& path, std::string* error);
std::unique_ptr<Store> OpenPostgresStore(const std::string& conninfo, std::string* error);

// Columns of the runs table, shared by both back ends.
struct RunColumn {
  const char* name;
  enum Kind { kText, kInt, kFlag } kind;
  std::string RunRow::*text;
  int64_t RunRow::*integer;
  bool RunRow::*flag;
};
const std::vector<RunColumn>& RunColumns();
// The statements both back ends share (placeholders differ, so each back end
// builds its own from these names).
std::string RunColumnList();
// The order of ListRuns: the index on day serves it, the rest is sorted per day.
constexpr const char* kNewestFirst = " ORDER BY day DESC, last_seen DESC, sid";
// The channels table holds every channel of a stored run: ingest adds a run's
// channel, retention drops one whose last run it deleted.
constexpr const char* kChannelList = "SELECT channel FROM channels ORDER BY channel LIMIT 500";
// The failure traces: the trace keys, each a fail_<key> column, and how many
// of the most frequent (end result, value) pairs the summary keeps of each.
constexpr const char* kFailureTraceKeys[] = {"csgn", "pcfg", "sthp", "rstp"};
constexpr int kFailureTracesPerKey = 40;
// The query of one key's failure traces after the filter's WHERE clause. Its
// terms are those of the partial index runs_failures, which alone answers it.
std::string FailureTraceQuery(const std::string& key, const std::string& filter_clause);

// SHA-256 of a text, as 64 hexadecimal digits.
std::string Sha256Hex(const std::string& text);

}  // namespace zstats
