// PostgreSQL back end, for operators who run several services against one
// database. Runs are locked row by row (SELECT ... FOR UPDATE) in Sid order,
// so services that fold reports of the same run at once never lose one.
#include <pqxx/pqxx>

#include <algorithm>
#include <memory>
#include <mutex>

#include "store.h"

namespace zstats {
namespace {

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS runs (
  sid TEXT PRIMARY KEY, first_seen BIGINT NOT NULL DEFAULT 0, last_seen BIGINT NOT NULL DEFAULT 0,
  day BIGINT NOT NULL DEFAULT 0, channel TEXT NOT NULL DEFAULT '', version TEXT NOT NULL DEFAULT '',
  pc_code TEXT NOT NULL DEFAULT '', uinf TEXT NOT NULL DEFAULT '', start_text TEXT NOT NULL DEFAULT '',
  rnd TEXT NOT NULL DEFAULT '', os_code BIGINT NOT NULL DEFAULT 0, os_build BIGINT NOT NULL DEFAULT 0,
  has_start INTEGER NOT NULL DEFAULT 0, has_end INTEGER NOT NULL DEFAULT 0, end_stat BIGINT NOT NULL DEFAULT 0,
  end_result BIGINT NOT NULL DEFAULT -1, end_ext BIGINT NOT NULL DEFAULT 0, t_diff BIGINT NOT NULL DEFAULT 0,
  t_dlc BIGINT NOT NULL DEFAULT 0, t_dlsxml BIGINT NOT NULL DEFAULT 0, t_dls BIGINT NOT NULL DEFAULT 0,
  t_ins BIGINT NOT NULL DEFAULT 0, cfgver TEXT NOT NULL DEFAULT '', stpver TEXT NOT NULL DEFAULT '',
  traces TEXT NOT NULL DEFAULT '', os_name TEXT NOT NULL DEFAULT '', last_step BIGINT NOT NULL DEFAULT 0,
  funnel_stage BIGINT NOT NULL DEFAULT 0, installed INTEGER NOT NULL DEFAULT 0, pkg_bytes BIGINT NOT NULL DEFAULT 0,
  pkg_ms BIGINT NOT NULL DEFAULT 0, speed_bucket BIGINT NOT NULL DEFAULT -1, trust BIGINT NOT NULL DEFAULT -1,
  fail_csgn TEXT NOT NULL DEFAULT '', fail_pcfg TEXT NOT NULL DEFAULT '', fail_sthp TEXT NOT NULL DEFAULT '',
  fail_rstp TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS runs_cube ON runs (day, channel, os_name, end_result, funnel_stage, speed_bucket, installed);
CREATE INDEX IF NOT EXISTS runs_last_seen ON runs (last_seen);
CREATE INDEX IF NOT EXISTS runs_failures ON runs (day, channel, end_result, fail_csgn, fail_pcfg, fail_sthp, fail_rstp)
  WHERE installed = 0;
CREATE TABLE IF NOT EXISTS records (
  sid TEXT NOT NULL, line_hash TEXT NOT NULL, src TEXT NOT NULL, line TEXT NOT NULL, received BIGINT NOT NULL,
  PRIMARY KEY (sid, line_hash));
)SQL";
// A database made before the channels table gets it filled from its runs.
const char* const kChannelsTable = R"SQL(
CREATE TABLE channels (channel TEXT PRIMARY KEY);
INSERT INTO channels SELECT DISTINCT channel FROM runs;
)SQL";
const char* const kDropUnusedChannel =
    "DELETE FROM channels WHERE channel = $1 AND NOT EXISTS (SELECT 1 FROM runs WHERE channel = $1)";

std::string FilterClause(const Filter& f) {
  return f.all_channels ? " WHERE day BETWEEN $1 AND $2" : " WHERE day BETWEEN $1 AND $2 AND channel = $3";
}

void ReadRow(const pqxx::row& r, RunRow* row) {
  int i = 0;
  for (const RunColumn& c : RunColumns()) {
    switch (c.kind) {
      case RunColumn::kText: row->*c.text = r[i].c_str(); break;
      case RunColumn::kInt: row->*c.integer = r[i].as<int64_t>(); break;
      case RunColumn::kFlag: row->*c.flag = r[i].as<int64_t>() != 0; break;
    }
    ++i;
  }
}

class PostgresStore : public Store {
 public:
  bool Open(const std::string& conninfo, std::string* error) {
    conninfo_ = conninfo;
    try {
      writer_ = std::make_unique<pqxx::connection>(conninfo);
      {
        pqxx::work w(*writer_);
        // Two services creating the schema at once wait for each other.
        w.exec("SELECT pg_advisory_xact_lock(7301)");
        w.exec(kSchema);
        if (w.exec("SELECT to_regclass('channels') IS NULL")[0][0].as<bool>()) w.exec(kChannelsTable);
        w.commit();
      }
      std::string columns = RunColumnList();
      std::string sets;
      int i = 1;
      for (const RunColumn& c : RunColumns()) {
        if (i > 1) sets += std::string(i > 2 ? ", " : "") + c.name + " = $" + std::to_string(i);
        ++i;
      }
      writer_->prepare("insert_record",
                       "INSERT INTO records (sid, line_hash, src, line, received) VALUES ($1, $2, $3, $4, $5) "
                       "ON CONFLICT DO NOTHING");
      writer_->prepare("claim_run", "INSERT INTO runs (sid) VALUES ($1) ON CONFLICT DO NOTHING");
      writer_->prepare("lock_run", "SELECT " + columns + " FROM runs WHERE sid = $1 FOR UPDATE");
      // Every update names its run's channel again, so a channel that
      // retention dropped while this run was being written comes back.
      writer_->prepare("update_run", "WITH channel AS (INSERT INTO channels (channel) VALUES ($" + ChannelParameter() +
                                         ") ON CONFLICT DO NOTHING) UPDATE runs SET " + sets + " WHERE sid = $1");
    } catch (const std::exception& e) {
      *error = std::string("postgresql: ") + e.what();
      return false;
    }
    return true;
  }

  bool Apply(const std::vector<const Report*>& reports, int64_t now, std::string* error) override {
    std::lock_guard<std::mutex> lock(write_mutex_);
    // Rows are locked in Sid order (the reports of one run keep theirs), so
    // two services never wait on each other in a cycle.
    std::vector<const Report*> ordered(reports);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Report* a, const Report* b) { return a->header.sid < b->header.sid; });
    try {
      pqxx::work w(*writer_);
      for (const Report* report : ordered) ApplyOne(w, *report, now);
      w.commit();
    } catch (const std::exception& e) {
      *error = std::string("postgresql: ") + e.what();
      Reconnect();
      return false;
    }
    return true;
  }

  bool Summarize(const Filter& filter, Summary* summary, std::string* error) override {
    return WithReader(error, [&](pqxx::connection& c) {
      pqxx::work w(c);
      w.exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ");
      pqxx::result cube = Query(w, "SELECT channel, os_name, day, end_result, funnel_stage, speed_bucket, installed, count(*) FROM runs" +
                                       FilterClause(filter) +
                                       " GROUP BY day, channel, os_name, end_result, funnel_stage, speed_bucket, installed",
                                filter);
      for (const pqxx::row& r : cube) {
        CubeRow row{r[0].c_str(), r[1].c_str(), r[2].as<int64_t>(), r[3].as<int64_t>(), r[4].as<int64_t>(),
                    r[5].as<int64_t>(), r[6].as<int64_t>(), r[7].as<int64_t>()};
        AddCubeRow(row, summary);
      }
      for (const char* key : kFailureTraceKeys) {
        pqxx::result traces = Query(w, FailureTraceQuery(key, FilterClause(filter)), filter);
        for (const pqxx::row& r : traces)
          summary->failure_traces.push_back({r[0].as<int64_t>(), key, r[1].c_str(), r[2].as<int64_t>()});
      }
      w.commit();
      FinishSummary(summary);
      return true;
    });
  }

  bool LoadRun(const std::string& sid, RunRow* row, std::vector<StoredRecord>* records, std::string* error) override {
    return WithReader(error, [&](pqxx::connection& c) {
      pqxx::work w(c);
      pqxx::result r = w.exec_params("SELECT " + RunColumnList() + " FROM runs WHERE sid = $1", sid);
      if (r.empty()) return false;
      ReadRow(r[0], row);
      for (const pqxx::row& rec : w.exec_params("SELECT src, line, received FROM records WHERE sid = $1 ORDER BY received, src", sid))
        records->push_back({rec[0].c_str(), rec[1].c_str(), rec[2].as<int64_t>()});
      w.commit();
      return true;
    });
  }

  bool ListChannels(std::vector<std::string>* channels, std::string* error) override {
    return WithReader(error, [&](pqxx::connection& c) {
      pqxx::work w(c);
      for (const pqxx::row& r : w.exec(kChannelList)) channels->push_back(r[0].c_str());
      w.commit();
      return true;
    });
  }

  bool ListRuns(const Filter& filter, int64_t limit, std::vector<RunRow>* runs, std::string* error) override {
    return WithReader(error, [&](pqxx::connection& c) {
      pqxx::work w(c);
      for (const pqxx::row& r : Query(w, "SELECT " + RunColumnList() + " FROM runs" + FilterClause(filter) + kNewestFirst +
                                             " LIMIT " + std::to_string(limit),
                                      filter)) {
        runs->emplace_back();
        ReadRow(r, &runs->back());
      }
      w.commit();
      return true;
    });
  }

  int64_t DeleteOlderThan(int64_t cutoff, int64_t max_runs, std::string* error) override {
    std::lock_guard<std::mutex> lock(write_mutex_);
    try {
      pqxx::work w(*writer_);
      // SKIP LOCKED: runs being written by another service stay for the next
      // batch. The answer: the deleted runs per channel.
      pqxx::result gone = w.exec_params(
          "WITH old AS (SELECT sid FROM runs WHERE last_seen < $1 ORDER BY last_seen LIMIT $2 FOR UPDATE SKIP LOCKED), "
          "dropped AS (DELETE FROM records WHERE sid IN (SELECT sid FROM old)), "
          "gone AS (DELETE FROM runs WHERE sid IN (SELECT sid FROM old) RETURNING channel) "
          "SELECT channel, count(*) FROM gone GROUP BY channel",
          cutoff, max_runs);
      int64_t deleted = 0;
      // A statement of its own: the one above does not see its own deletions.
      for (const pqxx::row& r : gone) {
        w.exec_params(kDropUnusedChannel, r[0].c_str());
        deleted += r[1].as<int64_t>();
      }
      w.commit();
      return deleted;
    } catch (const std::exception& e) {
      *error = std::string("postgresql: ") + e.what();
      Reconnect();
      return -1;
    }
  }

  bool Count(int64_t* runs, int64_t* records, std::string* error) override {
    return WithReader(error, [&](pqxx::connection& c) {
      pqxx::work w(c);
      pqxx::result r = w.exec("SELECT (SELECT count(*) FROM runs), (SELECT count(*) FROM records)");
      *runs = r[0][0].as<int64_t>();
      *records = r[0][1].as<int64_t>();
      w.commit();
      return true;
    });
  }

 private:
  // The update_run parameter of the channel column ($1 is the sid).
  static std::string ChannelParameter() {
    const std::vector<RunColumn>& columns = RunColumns();
    auto channel = std::find_if(columns.begin(), columns.end(), [](const RunColumn& c) { return std::string(c.name) == "channel"; });
    return std::to_string(channel - columns.begin() + 1);
  }

  static pqxx::result Query(pqxx::work& w, const std::string& sql, const Filter& f) {
    if (f.all_channels) return w.exec_params(sql, f.day_from, f.day_to);
    return w.exec_params(sql, f.day_from, f.day_to, f.channel);
  }

  void ApplyOne(pqxx::work& w, const Report& report, int64_t now) {
    const std::string& sid = report.header.sid;
    if (report.one_shot) {
      pqxx::result inserted = w.exec_prepared("insert_record", sid, Sha256Hex(report.line), report.src, report.line, now);
      if (inserted.affected_rows() == 0) return;  // a retry of a stored record
    }
    w.exec_prepared("claim_run", sid);
    RunRow row;
    ReadRow(w.exec_prepared("lock_run", sid)[0], &row);
    if (!MergeReport(report, now, &row)) return;
    // Parameters in column order, as text ($1 is the sid).
    std::vector<std::string> values;
    for (const RunColumn& c : RunColumns()) {
      switch (c.kind) {
        case RunColumn::kText: values.push_back(row.*c.text); break;
        case RunColumn::kInt: values.push_back(std::to_string(row.*c.integer)); break;
        case RunColumn::kFlag: values.push_back(row.*c.flag ? "1" : "0"); break;
      }
    }
    w.exec_prepared("update_run", pqxx::prepare::make_dynamic_params(values));
  }

  template <typename F>
  bool WithReader(std::string* error, F&& body) {
    std::unique_ptr<pqxx::connection> c;
    {
      std::lock_guard<std::mutex> lock(pool_mutex_);
      if (!pool_.empty()) {
        c = std::move(pool_.back());
        pool_.pop_back();
      }
    }
    bool ok = false;
    try {
      if (!c) c = std::make_unique<pqxx::connection>(conninfo_);
      ok = body(*c);
    } catch (const std::exception& e) {
      *error = std::string("postgresql: ") + e.what();
      return false;
    }
    std::lock_guard<std::mutex> lock(pool_mutex_);
    if (pool_.size() < kMaxIdleReaders) pool_.push_back(std::move(c));
    return ok;
  }

  void Reconnect() {
    try {
      if (!writer_->is_open()) Open(conninfo_, &last_error_);
    } catch (const std::exception&) {
    }
  }

  static constexpr size_t kMaxIdleReaders = 4;
  std::string conninfo_, last_error_;
  std::mutex write_mutex_, pool_mutex_;
  std::unique_ptr<pqxx::connection> writer_;
  std::vector<std::unique_ptr<pqxx::connection>> pool_;
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& conninfo, std::string* error) {
  auto store = std::make_unique<PostgresStore>();
  if (!store->Open(conninfo, error)) return nullptr;
  return store;
}

}  // namespace zstats
