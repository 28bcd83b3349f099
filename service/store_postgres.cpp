// PostgreSQL back end, for operators who run several services against one
// database. A batch locks its runs (INSERT ... ON CONFLICT DO UPDATE) in Sid
// order, so services that fold reports of the same run at once never lose one.
#include <pqxx/pqxx>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>

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
      // update_runs: one array parameter per column ($1 the sids), every
      // column but the sid set from them.
      std::string sets, arrays;
      int i = 1;
      for (const RunColumn& c : RunColumns()) {
        const char* type = c.kind == RunColumn::kText ? "::text[]" : c.kind == RunColumn::kInt ? "::bigint[]" : "::integer[]";
        arrays += std::string(i > 1 ? ", " : "") + "$" + std::to_string(i) + type;
        if (i > 1) sets += std::string(i > 2 ? ", " : "") + c.name + " = v." + c.name;
        ++i;
      }
      // One statement per step of a batch, its rows passed as arrays, so a
      // batch costs the same few round trips however many reports it holds.
      // Rows go in in the order given (WITH ORDINALITY), which is Sid order.
      writer_->prepare("insert_records",
                       "INSERT INTO records (sid, line_hash, src, line, received) "
                       "SELECT sid, line_hash, src, line, $5 FROM unnest($1::text[], $2::text[], $3::text[], $4::text[]) "
                       "WITH ORDINALITY AS r(sid, line_hash, src, line, n) ORDER BY n "
                       "ON CONFLICT DO NOTHING RETURNING sid, line_hash");
      // Creates the missing runs and locks all, reading each row's newest
      // version in the same round trip.
      writer_->prepare("claim_runs", "INSERT INTO runs (sid) SELECT sid FROM unnest($1::text[]) WITH ORDINALITY AS c(sid, n) "
                                     "ORDER BY n ON CONFLICT (sid) DO UPDATE SET sid = EXCLUDED.sid RETURNING " + columns);
      // Every update names its run's channel again, so a channel that
      // retention dropped while this run was being written comes back.
      writer_->prepare("update_runs", "WITH v AS (SELECT * FROM unnest(" + arrays + ") AS v(" + columns +
                                          ")), channel AS (INSERT INTO channels (channel) SELECT DISTINCT channel FROM v "
                                          "ON CONFLICT DO NOTHING) UPDATE runs SET " + sets +
                                          " FROM v WHERE runs.sid = v.sid");
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
      std::vector<bool> applies = StoreRecords(w, ordered, now);
      // The runs that get a report, each once, in Sid order.
      std::vector<std::string> sids;
      for (size_t i = 0; i < ordered.size(); ++i) {
        if (applies[i] && (sids.empty() || sids.back() != ordered[i]->header.sid)) sids.push_back(ordered[i]->header.sid);
      }
      if (!sids.empty()) {
        std::map<std::string, RunRow> runs;
        for (const pqxx::row& r : w.exec_prepared("claim_runs", ArrayLiteral(sids))) {
          RunRow row;
          ReadRow(r, &row);
          std::string sid = row.sid;
          runs.emplace(std::move(sid), std::move(row));
        }
        // The reports of a run fold into it in arrival order; the run is
        // written once if any of them changed it.
        std::set<std::string> changed;
        for (size_t i = 0; i < ordered.size(); ++i) {
          const std::string& sid = ordered[i]->header.sid;
          if (applies[i] && MergeReport(*ordered[i], now, &runs.at(sid))) changed.insert(sid);
        }
        if (!changed.empty()) UpdateRuns(w, runs, changed);
      }
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
  static pqxx::result Query(pqxx::work& w, const std::string& sql, const Filter& f) {
    if (f.all_channels) return w.exec_params(sql, f.day_from, f.day_to);
    return w.exec_params(sql, f.day_from, f.day_to, f.channel);
  }

  // A PostgreSQL array literal of texts (each quoted, so any text fits).
  static std::string ArrayLiteral(const std::vector<std::string>& values) {
    std::string out = "{";
    for (const std::string& v : values) {
      if (out.size() > 1) out += ',';
      out += '"';
      for (char ch : v) {
        if (ch == '"' || ch == '\\') out += '\\';
        out += ch;
      }
      out += '"';
    }
    return out + "}";
  }

  // Inserts the batch's one-shot records and tells which reports apply: a
  // one-shot record applies only where it is new (neither stored before nor
  // earlier in the batch), every other report always.
  static std::vector<bool> StoreRecords(pqxx::work& w, const std::vector<const Report*>& ordered, int64_t now) {
    std::vector<bool> applies(ordered.size(), true);
    using Key = std::pair<std::string, std::string>;  // sid, line hash
    std::vector<Key> keys(ordered.size());
    std::map<Key, size_t> first;  // each record's first report in the batch
    for (size_t i = 0; i < ordered.size(); ++i) {
      if (!ordered[i]->one_shot) continue;
      keys[i] = {ordered[i]->header.sid, Sha256Hex(ordered[i]->line)};
      if (!first.emplace(keys[i], i).second) applies[i] = false;
    }
    if (first.empty()) return applies;
    // Inserted in (sid, hash) order, so services waiting on each other's
    // records never wait in a cycle.
    std::vector<std::string> sids, hashes, srcs, lines;
    for (const auto& [key, i] : first) {
      sids.push_back(key.first);
      hashes.push_back(key.second);
      srcs.push_back(ordered[i]->src);
      lines.push_back(ordered[i]->line);
    }
    std::set<Key> inserted;
    for (const pqxx::row& r : w.exec_prepared("insert_records", ArrayLiteral(sids), ArrayLiteral(hashes),
                                                      ArrayLiteral(srcs), ArrayLiteral(lines), now))
      inserted.insert({r[0].c_str(), r[1].c_str()});
    for (const auto& [key, i] : first) {
      if (!inserted.count(key)) applies[i] = false;  // a retry of a stored record
    }
    return applies;
  }

  // Writes the changed runs in one statement: one array per column.
  static void UpdateRuns(pqxx::work& w, const std::map<std::string, RunRow>& runs, const std::set<std::string>& changed) {
    const std::vector<RunColumn>& columns = RunColumns();
    std::vector<std::vector<std::string>> values(columns.size());
    for (const std::string& sid : changed) {
      const RunRow& row = runs.at(sid);
      for (size_t c = 0; c < columns.size(); ++c) {
        switch (columns[c].kind) {
          case RunColumn::kText: values[c].push_back(row.*columns[c].text); break;
          case RunColumn::kInt: values[c].push_back(std::to_string(row.*columns[c].integer)); break;
          case RunColumn::kFlag: values[c].push_back(row.*columns[c].flag ? "1" : "0"); break;
        }
      }
    }
    std::vector<std::string> arrays;
    for (const std::vector<std::string>& column : values) arrays.push_back(ArrayLiteral(column));
    w.exec_prepared("update_runs", pqxx::prepare::make_dynamic_params(arrays));
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
