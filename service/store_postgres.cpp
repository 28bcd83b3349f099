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
      // The parts of a batch's statements that do not depend on its rows.
      columns_ = RunColumnList();
      update_sets_.clear();
      for (const RunColumn& c : RunColumns()) {
        if (&c == &RunColumns().front()) continue;  // the sid, the key
        update_sets_ += std::string(update_sets_.empty() ? "" : ", ") + c.name + " = v." + c.name;
      }
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
    // A batch costs two round trips however many reports it holds: BEGIN
    // with the records' insert and the runs' claim, then the runs' update
    // with COMMIT. Rows go in as arrays, literals of the statements quoted
    // by the connection (a statement with parameters cannot share its round
    // trip with BEGIN or COMMIT); each batch is planned with the table's
    // current size.
    try {
      pqxx::nontransaction n(*writer_);
      std::vector<bool> applies(ordered.size(), true);
      std::map<std::pair<std::string, std::string>, size_t> first;  // (sid, line hash): its first report
      std::vector<std::string> sids;                                 // the batch's runs, each once
      for (size_t i = 0; i < ordered.size(); ++i) {
        const std::string& sid = ordered[i]->header.sid;
        if (sids.empty() || sids.back() != sid) sids.push_back(sid);
        if (ordered[i]->one_shot && !first.emplace(std::make_pair(sid, Sha256Hex(ordered[i]->line)), i).second)
          applies[i] = false;  // the same record earlier in the batch
      }
      std::map<std::string, RunRow> runs;
      std::set<std::pair<std::string, std::string>> inserted;
      for (const pqxx::row& r : n.exec("BEGIN; " + StoreAndClaimSql(first, ordered, sids, now))) {
        RunRow row;
        ReadRow(r, &row);
        for (const std::string& hash : ParseHashArray(r[static_cast<pqxx::row::size_type>(RunColumns().size())].c_str())) inserted.insert({row.sid, hash});
        std::string sid = row.sid;
        runs.emplace(std::move(sid), std::move(row));
      }
      for (const auto& [key, i] : first) {
        if (!inserted.count(key)) applies[i] = false;  // a retry of a stored record
      }
      // The reports of a run fold into it in arrival order; the run is
      // written once if any of them changed it.
      std::set<std::string> changed;
      for (size_t i = 0; i < ordered.size(); ++i) {
        const std::string& sid = ordered[i]->header.sid;
        if (applies[i] && MergeReport(*ordered[i], now, &runs.at(sid))) changed.insert(sid);
      }
      n.exec(changed.empty() ? std::string("COMMIT") : UpdateRunsSql(runs, changed) + "; COMMIT");
    } catch (const std::exception& e) {
      *error = std::string("postgresql: ") + e.what();
      try {
        pqxx::nontransaction(*writer_).exec("ROLLBACK");
      } catch (const std::exception&) {
      }
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

  // An array of the statement: `values` as a quoted literal of `type`.
  std::string ArrayValue(const std::vector<std::string>& values, const char* type) const {
    return writer_->quote(ArrayLiteral(values)) + type;
  }

  // Inserts the batch's new one-shot records (`first`, in (sid, hash)
  // order, so services waiting on each other's records never wait in a
  // cycle), creates the missing runs and locks all of `sids`, reading each
  // run's newest version and the hashes of its records this insert stored
  // (a record stored before is a retry).
  std::string StoreAndClaimSql(const std::map<std::pair<std::string, std::string>, size_t>& first,
                               const std::vector<const Report*>& ordered, const std::vector<std::string>& sids,
                               int64_t now) const {
    std::vector<std::string> record_sids, hashes, srcs, lines;
    for (const auto& [key, i] : first) {
      record_sids.push_back(key.first);
      hashes.push_back(key.second);
      srcs.push_back(ordered[i]->src);
      lines.push_back(ordered[i]->line);
    }
    return "WITH ins AS (INSERT INTO records (sid, line_hash, src, line, received) "
           "SELECT sid, line_hash, src, line, " + std::to_string(now) + " FROM unnest(" +
           ArrayValue(record_sids, "::text[]") + ", " + ArrayValue(hashes, "::text[]") + ", " +
           ArrayValue(srcs, "::text[]") + ", " + ArrayValue(lines, "::text[]") +
           ") WITH ORDINALITY AS r(sid, line_hash, src, line, n) ORDER BY n "
           "ON CONFLICT DO NOTHING RETURNING sid, line_hash), "
           "claim AS (INSERT INTO runs (sid) SELECT sid FROM unnest(" + ArrayValue(sids, "::text[]") +
           ") WITH ORDINALITY AS c(sid, n) ORDER BY n ON CONFLICT (sid) DO UPDATE SET sid = EXCLUDED.sid RETURNING " +
           columns_ + ") SELECT claim.*, ARRAY(SELECT line_hash FROM ins WHERE ins.sid = claim.sid) FROM claim";
  }

  // The hashes of a text[] of hex digests as the server prints it: {a,b}.
  static std::vector<std::string> ParseHashArray(const std::string& text) {
    std::vector<std::string> hashes;
    size_t pos = 1;
    while (pos + 1 < text.size()) {
      size_t comma = text.find(',', pos);
      if (comma == std::string::npos) comma = text.size() - 1;
      hashes.push_back(text.substr(pos, comma - pos));
      pos = comma + 1;
    }
    return hashes;
  }

  // Writes the changed runs in one statement: one array per column. Every
  // update names its run's channel again, so a channel that retention
  // dropped while this run was being written comes back.
  std::string UpdateRunsSql(const std::map<std::string, RunRow>& runs, const std::set<std::string>& changed) const {
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
    std::string arrays;
    for (size_t c = 0; c < columns.size(); ++c) {
      const char* type = columns[c].kind == RunColumn::kText ? "::text[]"
                         : columns[c].kind == RunColumn::kInt ? "::bigint[]" : "::integer[]";
      arrays += std::string(c > 0 ? ", " : "") + ArrayValue(values[c], type);
    }
    return "WITH v AS (SELECT * FROM unnest(" + arrays + ") AS v(" + columns_ +
           ")), channel AS (INSERT INTO channels (channel) SELECT DISTINCT channel FROM v "
           "ON CONFLICT DO NOTHING) UPDATE runs SET " + update_sets_ + " FROM v WHERE runs.sid = v.sid";
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
  std::string columns_, update_sets_;  // the runs' columns, and the update's SET list
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
