// SQLite back end: one file, WAL journal, every commit synced (FULL), so an
// acknowledged report survives a crash of the service or of the machine.
#include <sqlite3.h>

#include <mutex>
#include <set>

#include "store.h"

namespace zstats {
namespace {

constexpr int kBusyTimeoutMs = 10000;

class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, const std::string& sql, std::string* error) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
      *error = std::string("prepare: ") + sqlite3_errmsg(db) + " in " + sql;
      stmt_ = nullptr;
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& o) noexcept : stmt_(o.stmt_) { o.stmt_ = nullptr; }
  Statement& operator=(Statement&& o) noexcept {
    std::swap(stmt_, o.stmt_);
    return *this;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  void Bind(int i, const std::string& s) { sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT); }
  void Bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  std::string Text(int i) const {
    const unsigned char* t = sqlite3_column_text(stmt_, i);
    return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(stmt_, i)) : std::string();
  }
  int64_t Int(int i) const { return sqlite3_column_int64(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

struct Db {
  sqlite3* handle = nullptr;
  ~Db() { sqlite3_close(handle); }
};

bool Exec(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = std::string(message ? message : "sqlite error") + " in " + sql;
    sqlite3_free(message);
    return false;
  }
  return true;
}

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS runs (
  sid TEXT PRIMARY KEY, first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL, day INTEGER NOT NULL,
  channel TEXT NOT NULL, version TEXT NOT NULL, pc_code TEXT NOT NULL, uinf TEXT NOT NULL,
  start_text TEXT NOT NULL, rnd TEXT NOT NULL, os_code INTEGER NOT NULL, os_build INTEGER NOT NULL,
  has_start INTEGER NOT NULL, has_end INTEGER NOT NULL, end_stat INTEGER NOT NULL, end_result INTEGER NOT NULL,
  end_ext INTEGER NOT NULL, t_diff INTEGER NOT NULL, t_dlc INTEGER NOT NULL, t_dlsxml INTEGER NOT NULL,
  t_dls INTEGER NOT NULL, t_ins INTEGER NOT NULL, cfgver TEXT NOT NULL, stpver TEXT NOT NULL,
  traces TEXT NOT NULL, os_name TEXT NOT NULL, last_step INTEGER NOT NULL, funnel_stage INTEGER NOT NULL,
  installed INTEGER NOT NULL, pkg_bytes INTEGER NOT NULL, pkg_ms INTEGER NOT NULL, speed_bucket INTEGER NOT NULL,
  trust INTEGER NOT NULL, fail_csgn TEXT NOT NULL, fail_pcfg TEXT NOT NULL, fail_sthp TEXT NOT NULL,
  fail_rstp TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS runs_cube ON runs (day, channel, os_name, end_result, funnel_stage, speed_bucket, installed);
CREATE INDEX IF NOT EXISTS runs_last_seen ON runs (last_seen);
CREATE INDEX IF NOT EXISTS runs_failures ON runs (day, channel, end_result, fail_csgn, fail_pcfg, fail_sthp, fail_rstp)
  WHERE installed = 0;
CREATE TABLE IF NOT EXISTS records (
  sid TEXT NOT NULL, line_hash TEXT NOT NULL, src TEXT NOT NULL, line TEXT NOT NULL, received INTEGER NOT NULL,
  PRIMARY KEY (sid, line_hash)) WITHOUT ROWID;
)SQL";
// A database made before the channels table gets it filled from its runs.
const char* const kChannelsTable = R"SQL(
CREATE TABLE channels (channel TEXT PRIMARY KEY) WITHOUT ROWID;
INSERT INTO channels SELECT DISTINCT channel FROM runs;
)SQL";
const char* const kDropUnusedChannel =
    "DELETE FROM channels WHERE channel = ?1 AND NOT EXISTS (SELECT 1 FROM runs WHERE channel = ?1)";

// The filter's WHERE clause; parameters 1 and 2 are the days, 3 the channel.
std::string FilterClause(const Filter& f) {
  return f.all_channels ? " WHERE day BETWEEN ?1 AND ?2" : " WHERE day BETWEEN ?1 AND ?2 AND channel = ?3";
}

class SqliteStore : public Store {
 public:
  bool Open(const std::string& path, std::string* error) {
    path_ = path;
    if (!OpenConnection(&writer_, error)) return false;
    if (!Exec(writer_.handle, "PRAGMA journal_mode=WAL", error) || !CreateSchema(error)) return false;
    std::string columns = RunColumnList();
    std::string placeholders;
    for (size_t i = 1; i <= RunColumns().size(); ++i) placeholders += (i == 1 ? "?" : ", ?") + std::to_string(i);
    select_run_ = Statement(writer_.handle, "SELECT " + columns + " FROM runs WHERE sid = ?1", error);
    upsert_run_ = Statement(writer_.handle, "INSERT OR REPLACE INTO runs (" + columns + ") VALUES (" + placeholders + ")", error);
    insert_record_ = Statement(writer_.handle,
        "INSERT INTO records (sid, line_hash, src, line, received) VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT DO NOTHING", error);
    insert_channel_ = Statement(writer_.handle, "INSERT OR IGNORE INTO channels (channel) VALUES (?1)", error);
    return select_run_ && upsert_run_ && insert_record_ && insert_channel_;
  }

  // The schema in one write transaction, so two services opening a database
  // of the previous version at once fill its channels table once.
  bool CreateSchema(std::string* error) {
    sqlite3* db = writer_.handle;
    Statement has_channels(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'channels'", error);
    if (!has_channels || !Exec(db, "BEGIN IMMEDIATE", error)) return false;
    int rc = sqlite3_step(has_channels.get());
    bool ok = (rc == SQLITE_ROW || rc == SQLITE_DONE) && Exec(db, kSchema, error);
    if (ok && rc == SQLITE_DONE) ok = Exec(db, kChannelsTable, error);
    has_channels.Reset();
    if (ok && Exec(db, "COMMIT", error)) return true;
    if (error->empty()) *error = sqlite3_errmsg(db);
    std::string ignored;
    Exec(db, "ROLLBACK", &ignored);
    return false;
  }

  bool Apply(const std::vector<const Report*>& reports, int64_t now, std::string* error) override {
    std::lock_guard<std::mutex> lock(write_mutex_);
    if (!Exec(writer_.handle, "BEGIN IMMEDIATE", error)) return false;
    for (const Report* report : reports) {
      if (!ApplyOne(*report, now, error)) {
        std::string ignored;
        Exec(writer_.handle, "ROLLBACK", &ignored);
        return false;
      }
    }
    if (!Exec(writer_.handle, "COMMIT", error)) {
      std::string ignored;
      Exec(writer_.handle, "ROLLBACK", &ignored);
      return false;
    }
    return true;
  }

  bool Summarize(const Filter& filter, Summary* summary, std::string* error) override {
    Db db;
    if (!OpenConnection(&db, error)) return false;
    // One read transaction, so every figure comes from the same snapshot.
    if (!Exec(db.handle, "BEGIN", error)) return false;
    Statement cube(db.handle,
                   "SELECT channel, os_name, day, end_result, funnel_stage, speed_bucket, installed, count(*) FROM runs" +
                       FilterClause(filter) + " GROUP BY day, channel, os_name, end_result, funnel_stage, speed_bucket, installed",
                   error);
    if (!cube) return false;
    BindFilter(&cube, filter);
    int rc;
    while ((rc = sqlite3_step(cube.get())) == SQLITE_ROW) {
      CubeRow row{cube.Text(0), cube.Text(1), cube.Int(2), cube.Int(3), cube.Int(4), cube.Int(5), cube.Int(6), cube.Int(7)};
      AddCubeRow(row, summary);
    }
    if (rc != SQLITE_DONE) return Fail(db.handle, error);
    for (const char* key : kFailureTraceKeys) {
      Statement traces(db.handle, FailureTraceQuery(key, FilterClause(filter)), error);
      if (!traces) return false;
      BindFilter(&traces, filter);
      while ((rc = sqlite3_step(traces.get())) == SQLITE_ROW)
        summary->failure_traces.push_back({traces.Int(0), key, traces.Text(1), traces.Int(2)});
      if (rc != SQLITE_DONE) return Fail(db.handle, error);
    }
    FinishSummary(summary);
    return true;
  }

  bool LoadRun(const std::string& sid, RunRow* row, std::vector<StoredRecord>* records, std::string* error) override {
    Db db;
    if (!OpenConnection(&db, error)) return false;
    if (!Exec(db.handle, "BEGIN", error)) return false;
    Statement select(db.handle, "SELECT " + RunColumnList() + " FROM runs WHERE sid = ?1", error);
    if (!select) return false;
    select.Bind(1, sid);
    int rc = sqlite3_step(select.get());
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) return Fail(db.handle, error);
    ReadRow(select, row);
    Statement list(db.handle, "SELECT src, line, received FROM records WHERE sid = ?1 ORDER BY received, src", error);
    if (!list) return false;
    list.Bind(1, sid);
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) records->push_back({list.Text(0), list.Text(1), list.Int(2)});
    return rc == SQLITE_DONE || Fail(db.handle, error);
  }

  bool ListChannels(std::vector<std::string>* channels, std::string* error) override {
    Db db;
    if (!OpenConnection(&db, error)) return false;
    Statement list(db.handle, kChannelList, error);
    if (!list) return false;
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) channels->push_back(list.Text(0));
    return rc == SQLITE_DONE || Fail(db.handle, error);
  }

  bool ListRuns(const Filter& filter, int64_t limit, std::vector<RunRow>* runs, std::string* error) override {
    Db db;
    if (!OpenConnection(&db, error)) return false;
    Statement list(db.handle, "SELECT " + RunColumnList() + " FROM runs" + FilterClause(filter) + kNewestFirst + " LIMIT ?4",
                   error);
    if (!list) return false;
    BindFilter(&list, filter);
    list.Bind(4, limit);
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
      runs->emplace_back();
      ReadRow(list, &runs->back());
    }
    return rc == SQLITE_DONE || Fail(db.handle, error);
  }

  int64_t DeleteOlderThan(int64_t cutoff, int64_t max_runs, std::string* error) override {
    std::lock_guard<std::mutex> lock(write_mutex_);
    Statement old(writer_.handle, "SELECT sid, channel FROM runs WHERE last_seen < ?1 ORDER BY last_seen LIMIT ?2", error);
    Statement drop_records(writer_.handle, "DELETE FROM records WHERE sid = ?1", error);
    Statement drop_run(writer_.handle, "DELETE FROM runs WHERE sid = ?1", error);
    Statement drop_channel(writer_.handle, kDropUnusedChannel, error);
    if (!old || !drop_records || !drop_run || !drop_channel) return -1;
    if (!Exec(writer_.handle, "BEGIN IMMEDIATE", error)) return -1;
    old.Bind(1, cutoff);
    old.Bind(2, max_runs);
    std::vector<std::string> sids;
    std::set<std::string> channels;
    int rc;
    while ((rc = sqlite3_step(old.get())) == SQLITE_ROW) {
      sids.push_back(old.Text(0));
      channels.insert(old.Text(1));
    }
    bool ok = rc == SQLITE_DONE;
    for (const std::string& sid : sids) {
      if (!ok) break;
      for (Statement* s : {&drop_records, &drop_run}) {
        s->Reset();
        s->Bind(1, sid);
        ok = ok && sqlite3_step(s->get()) == SQLITE_DONE;
      }
    }
    // Only the deleted runs' channels can have lost their last run.
    for (const std::string& channel : channels) {
      if (!ok) break;
      drop_channel.Reset();
      drop_channel.Bind(1, channel);
      ok = sqlite3_step(drop_channel.get()) == SQLITE_DONE;
    }
    std::string ignored;
    if (!ok || !Exec(writer_.handle, "COMMIT", error)) {
      if (error->empty()) *error = sqlite3_errmsg(writer_.handle);
      Exec(writer_.handle, "ROLLBACK", &ignored);
      return -1;
    }
    return static_cast<int64_t>(sids.size());
  }

  bool Count(int64_t* runs, int64_t* records, std::string* error) override {
    Db db;
    if (!OpenConnection(&db, error)) return false;
    Statement count(db.handle, "SELECT (SELECT count(*) FROM runs), (SELECT count(*) FROM records)", error);
    if (!count || sqlite3_step(count.get()) != SQLITE_ROW) return Fail(db.handle, error);
    *runs = count.Int(0);
    *records = count.Int(1);
    return true;
  }

 private:
  bool OpenConnection(Db* db, std::string* error) {
    if (sqlite3_open_v2(path_.c_str(), &db->handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      *error = "cannot open " + path_ + ": " + (db->handle ? sqlite3_errmsg(db->handle) : "out of memory");
      return false;
    }
    sqlite3_busy_timeout(db->handle, kBusyTimeoutMs);
    // FULL: the WAL is synced at every commit, so a 200 is never lost.
    return Exec(db->handle, "PRAGMA synchronous=FULL", error);
  }

  static bool Fail(sqlite3* db, std::string* error) {
    *error = sqlite3_errmsg(db);
    return false;
  }

  static void BindFilter(Statement* s, const Filter& f) {
    s->Bind(1, f.day_from);
    s->Bind(2, f.day_to);
    if (!f.all_channels) s->Bind(3, f.channel);
  }

  static void ReadRow(const Statement& s, RunRow* row) {
    int i = 0;
    for (const RunColumn& c : RunColumns()) {
      switch (c.kind) {
        case RunColumn::kText: row->*c.text = s.Text(i); break;
        case RunColumn::kInt: row->*c.integer = s.Int(i); break;
        case RunColumn::kFlag: row->*c.flag = s.Int(i) != 0; break;
      }
      ++i;
    }
  }

  bool ApplyOne(const Report& report, int64_t now, std::string* error) {
    if (report.one_shot) {
      insert_record_.Reset();
      insert_record_.Bind(1, report.header.sid);
      insert_record_.Bind(2, Sha256Hex(report.line));
      insert_record_.Bind(3, report.src);
      insert_record_.Bind(4, report.line);
      insert_record_.Bind(5, now);
      if (sqlite3_step(insert_record_.get()) != SQLITE_DONE) return Fail(writer_.handle, error);
      // A retry of a record already stored changes nothing.
      if (sqlite3_changes(writer_.handle) == 0) return true;
    }
    RunRow row;
    select_run_.Reset();
    select_run_.Bind(1, report.header.sid);
    int rc = sqlite3_step(select_run_.get());
    if (rc == SQLITE_ROW) ReadRow(select_run_, &row);
    else if (rc != SQLITE_DONE) return Fail(writer_.handle, error);
    select_run_.Reset();
    if (!MergeReport(report, now, &row)) return true;
    upsert_run_.Reset();
    int i = 1;
    for (const RunColumn& c : RunColumns()) {
      switch (c.kind) {
        case RunColumn::kText: upsert_run_.Bind(i, row.*c.text); break;
        case RunColumn::kInt: upsert_run_.Bind(i, row.*c.integer); break;
        case RunColumn::kFlag: upsert_run_.Bind(i, int64_t{row.*c.flag ? 1 : 0}); break;
      }
      ++i;
    }
    if (sqlite3_step(upsert_run_.get()) != SQLITE_DONE) return Fail(writer_.handle, error);
    insert_channel_.Reset();
    insert_channel_.Bind(1, row.channel);
    if (sqlite3_step(insert_channel_.get()) != SQLITE_DONE) return Fail(writer_.handle, error);
    return true;
  }

  std::string path_;
  std::mutex write_mutex_;
  Db writer_;
  Statement select_run_, upsert_run_, insert_record_, insert_channel_;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, std::string* error) {
  auto store = std::make_unique<SqliteStore>();
  if (!store->Open(path, error)) return nullptr;
  return store;
}

}  // namespace zstats
