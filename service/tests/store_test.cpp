// Both back ends: retries and repeated maps give one run, the aggregates are
// the same, retention deletes old runs, a database of the previous version
// opens. PostgreSQL runs on a cluster the test starts (ZSTATS_PG from
// tests/pg_cluster.sh).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <pqxx/pqxx>

#include <cstdlib>
#include <set>

#include "dashboard.h"
#include "report_builder.h"
#include "store.h"
#include "test_reports.h"

namespace zstats {
namespace {

constexpr int kRuns = 200;
constexpr int64_t kNow = 1700000000;

std::string SqlitePath() {
  static std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/zstats_store_test_" +
                            std::to_string(getpid()) + ".sqlite";
  return path;
}

std::unique_ptr<Store> Open(const std::string& backend) {
  std::string error;
  std::unique_ptr<Store> store;
  if (backend == "sqlite") {
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((SqlitePath() + suffix).c_str());
    store = OpenSqliteStore(SqlitePath(), &error);
  } else {
    const char* pg = std::getenv("ZSTATS_PG");
    if (!pg || !*pg) return nullptr;
    store = OpenPostgresStore(pg, &error);
    if (store) {
      // A fresh start: the cluster outlives one test case.
      EXPECT_GE(store->DeleteOlderThan(INT64_MAX, INT32_MAX, &error), 0) << error;
    }
  }
  EXPECT_TRUE(store) << error;
  return store;
}

bool Load(Store* store, const std::vector<std::string>& bodies, size_t batch, int64_t now = kNow) {
  std::vector<Report> reports = ParseAll(bodies);
  std::string error;
  for (size_t i = 0; i < reports.size(); i += batch) {
    std::vector<const Report*> part;
    for (size_t k = i; k < std::min(reports.size(), i + batch); ++k) part.push_back(&reports[k]);
    if (!store->Apply(part, now, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
  }
  return true;
}

std::string SummaryText(Store* store) {
  Summary s;
  std::string error;
  Filter all{kNow / 86400 - 1, kNow / 86400 + 1};
  EXPECT_TRUE(store->Summarize(all, &s, &error)) << error;
  return SummaryJson(s, all);
}

std::vector<std::string> Channels(Store* store) {
  std::vector<std::string> channels;
  std::string error;
  EXPECT_TRUE(store->ListChannels(&channels, &error)) << error;
  return channels;
}

// Runs statements on the test's database itself, past the store.
void ExecDirect(const std::string& backend, const std::string& sql) {
  if (backend == "sqlite") {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(SqlitePath().c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  } else {
    pqxx::connection c(std::getenv("ZSTATS_PG"));
    pqxx::work w(c);
    w.exec(sql);
    w.commit();
  }
}

class StoreTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    store_ = Open(GetParam());
    if (!store_ && GetParam() == "postgresql") GTEST_SKIP() << "PostgreSQL server binaries not found; PostgreSQL not tested";
    ASSERT_TRUE(store_);
  }
  std::unique_ptr<Store> store_;
};

TEST_P(StoreTest, RetriesAndRepeatedMapsGiveOneRunEach) {
  ASSERT_TRUE(Load(store_.get(), SyntheticBodies(kRuns), 64));
  // Everything once more, as installers retrying after lost answers.
  ASSERT_TRUE(Load(store_.get(), SyntheticBodies(kRuns), 7));
  int64_t runs = 0, records = 0;
  std::string error;
  ASSERT_TRUE(store_->Count(&runs, &records, &error)) << error;
  EXPECT_EQ(runs, kRuns);
  EXPECT_EQ(records, 2 * kRuns);  // one Start and one End per run

  Summary s;
  Filter all{kNow / 86400, kNow / 86400};
  ASSERT_TRUE(store_->Summarize(all, &s, &error)) << error;
  EXPECT_EQ(s.runs, kRuns);
  EXPECT_EQ(s.installed, kRuns / 10);       // stage 9 is every tenth run
  EXPECT_EQ(s.funnel[kStageInstalled], kRuns / 10);
  EXPECT_EQ(s.funnel[kStageConfiguration], kRuns * 9 / 10);
  EXPECT_EQ(s.channels.size(), 4u);
  EXPECT_EQ(s.os.size(), 4u);
  EXPECT_FALSE(s.failure_traces.empty());
  Filter one{kNow / 86400, kNow / 86400, "abc", false};
  Summary abc;
  ASSERT_TRUE(store_->Summarize(one, &abc, &error)) << error;
  EXPECT_EQ(abc.runs, kRuns / 4);

  RunRow row;
  std::vector<StoredRecord> stored;
  ASSERT_TRUE(store_->LoadRun(ParseAll(SyntheticBodies(1))[0].header.sid, &row, &stored, &error)) << error;
  EXPECT_EQ(stored.size(), 2u);
  EXPECT_NE(row.traces.find("sthp=6:0:200:0:1/6:0:200:0:2"), std::string::npos) << "the longest map is kept";
  EXPECT_FALSE(store_->LoadRun("NO-SUCH-RUN", &row, &stored, &error));
  EXPECT_TRUE(error.empty());

  // The newest runs of a filter: one row a run, at most the limit.
  for (const Filter& f : {all, one}) {
    std::vector<RunRow> listed;
    ASSERT_TRUE(store_->ListRuns(f, 30, &listed, &error)) << error;
    EXPECT_EQ(listed.size(), 30u);
    std::set<std::string> sids;
    for (const RunRow& r : listed) {
      sids.insert(r.sid);
      if (!f.all_channels) {
        EXPECT_EQ(r.channel, "abc");
      }
    }
    EXPECT_EQ(sids.size(), listed.size());
  }
}

TEST_P(StoreTest, RetentionDeletesOldRunsInBatches) {
  ASSERT_TRUE(Load(store_.get(), SyntheticBodies(50), 50, kNow - 10 * 86400));
  std::vector<std::string> recent = SyntheticBodies(60);
  recent.erase(recent.begin(), recent.begin() + static_cast<long>(SyntheticBodies(50).size()));
  ASSERT_TRUE(Load(store_.get(), recent, 50, kNow));
  std::string error;
  EXPECT_EQ(store_->DeleteOlderThan(kNow - 86400, 30, &error), 30) << error;
  EXPECT_EQ(store_->DeleteOlderThan(kNow - 86400, 30, &error), 20) << error;
  EXPECT_EQ(store_->DeleteOlderThan(kNow - 86400, 30, &error), 0) << error;
  int64_t runs = 0, records = 0;
  ASSERT_TRUE(store_->Count(&runs, &records, &error));
  EXPECT_EQ(runs, 10);
  EXPECT_EQ(records, 20);
  // A channel stays listed while it has a run, and goes with its last one.
  EXPECT_EQ(Channels(store_.get()).size(), 4u);
  EXPECT_EQ(store_->DeleteOlderThan(INT64_MAX, INT32_MAX, &error), 10) << error;
  EXPECT_TRUE(Channels(store_.get()).empty());
}

// A database the previous version made has no channels table and no index of
// the failure traces; opened now it gets both and gives the same answers.
TEST_P(StoreTest, DatabaseOfThePreviousVersionGivesTheSameAnswers) {
  std::vector<std::string> bodies = SyntheticBodies(kRuns);
  // The product was there already: the run ended without installing, yet
  // it did not fail.
  RunIdentity present{"0000FFFF-0000-4000-8000-00000000FFFF", "demo", "1.0.0.1", 130, 7601};
  bodies.push_back(ReportBody(present, TraceLine(2, 0, 0, 1)));
  bodies.push_back(ReportBody(present, "src=End t_diff=4000 Stat=999 Result=4 ExtReason=0 "));
  ASSERT_TRUE(Load(store_.get(), bodies, 64));
  std::string summary = SummaryText(store_.get());
  std::vector<std::string> channels = Channels(store_.get());
  store_.reset();
  ExecDirect(GetParam(), "DROP TABLE channels; DROP INDEX runs_failures;");
  std::string error;
  store_ = GetParam() == "sqlite" ? OpenSqliteStore(SqlitePath(), &error) : OpenPostgresStore(std::getenv("ZSTATS_PG"), &error);
  ASSERT_TRUE(store_) << error;
  EXPECT_EQ(SummaryText(store_.get()), summary);
  EXPECT_EQ(Channels(store_.get()), channels);
  EXPECT_EQ(channels.size(), 4u);

  Summary s;
  Filter all{kNow / 86400, kNow / 86400, "", true};
  ASSERT_TRUE(store_->Summarize(all, &s, &error)) << error;
  ASSERT_FALSE(s.failure_traces.empty());
  for (const FailureTrace& t : s.failure_traces) EXPECT_NE(t.end_result, kResultNotNeeded) << t.key << "=" << t.value;
}

// Texts with the characters that SQL and array literals quote come back
// as they were sent, once, however often they are sent.
TEST_P(StoreTest, QuotesAndBackslashesInReportsComeBackUnchanged) {
  const std::string channel = "it's \\\"{a,b}\\'; --";
  RunIdentity run{"0000AAAA-0000-4000-8000-00000000AAAA", channel, "1.0.0.1", 130, 7601};
  const std::string line = "src=End t_diff=4000 Stat=1 Result=2 ExtReason=7 Note=O'Neil\\\"x\"\\ ";
  ASSERT_TRUE(Load(store_.get(), {ReportBody(run, StartLine()), ReportBody(run, line), ReportBody(run, line)}, 8));
  RunRow row;
  std::vector<StoredRecord> stored;
  std::string error;
  ASSERT_TRUE(store_->LoadRun(run.sid, &row, &stored, &error)) << error;
  EXPECT_EQ(row.channel, channel);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_NE((stored[0].line + stored[1].line).find("Note=O'Neil\\\"x\"\\"), std::string::npos);
  EXPECT_EQ(Channels(store_.get()), std::vector<std::string>{channel});
}

// A batch the database refuses stores nothing, its records neither, so the
// installer's retry is stored whole rather than taken for a duplicate.
TEST_P(StoreTest, ARefusedBatchStoresNothingAndItsRetryIsStored) {
  const bool sqlite = GetParam() == "sqlite";
  RunIdentity run{"0000BBBB-0000-4000-8000-00000000BBBB", "refused", "1.0.0.1", 130, 7601};
  const std::vector<std::string> bodies = {ReportBody(run, StartLine()), ReportBody(run, EndLine(9))};
  ExecDirect(GetParam(), sqlite ? "CREATE TRIGGER refuse BEFORE INSERT ON runs WHEN NEW.channel = 'refused' "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END"
                                : "ALTER TABLE runs ADD CONSTRAINT refuse CHECK (channel <> 'refused')");
  std::vector<Report> reports = ParseAll(bodies);
  std::string error;
  EXPECT_FALSE(store_->Apply({&reports[0], &reports[1]}, kNow, &error));
  EXPECT_FALSE(error.empty());
  ExecDirect(GetParam(), sqlite ? "DROP TRIGGER refuse" : "ALTER TABLE runs DROP CONSTRAINT refuse");
  ASSERT_TRUE(Load(store_.get(), bodies, 8));
  int64_t runs = 0, records = 0;
  ASSERT_TRUE(store_->Count(&runs, &records, &error)) << error;
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(records, 2);
  RunRow row;
  std::vector<StoredRecord> stored;
  ASSERT_TRUE(store_->LoadRun(run.sid, &row, &stored, &error)) << error;
  EXPECT_TRUE(row.has_end);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Values("sqlite", "postgresql"));

TEST(StoreCompareTest, SqliteAndPostgresqlGiveTheSameAggregates) {
  std::unique_ptr<Store> pg = Open("postgresql");
  if (!pg) GTEST_SKIP() << "PostgreSQL server binaries not found; PostgreSQL not compared";
  std::unique_ptr<Store> lite = Open("sqlite");
  ASSERT_TRUE(lite);
  std::vector<std::string> bodies = SyntheticBodies(kRuns);
  ASSERT_TRUE(Load(lite.get(), bodies, 64));
  ASSERT_TRUE(Load(pg.get(), bodies, 13));
  EXPECT_EQ(SummaryText(lite.get()), SummaryText(pg.get()));

  // Each report twice in a row, so one batch holds retries of its own
  // records and several reports of one run: the same runs as before.
  std::vector<std::string> twice;
  for (const std::string& b : bodies) twice.insert(twice.end(), {b, b});
  std::unique_ptr<Store> pg_twice = Open("postgresql");
  ASSERT_TRUE(pg_twice);
  ASSERT_TRUE(Load(pg_twice.get(), twice, 64));
  EXPECT_EQ(SummaryText(lite.get()), SummaryText(pg_twice.get()));
  int64_t runs = 0, records = 0;
  std::string error;
  ASSERT_TRUE(pg_twice->Count(&runs, &records, &error)) << error;
  EXPECT_EQ(records, 2 * kRuns);
  RunRow lite_row, pg_row;
  std::vector<StoredRecord> lite_records, pg_records;
  const std::string sid = ParseAll(SyntheticBodies(1))[0].header.sid;
  ASSERT_TRUE(lite->LoadRun(sid, &lite_row, &lite_records, &error)) << error;
  ASSERT_TRUE(pg_twice->LoadRun(sid, &pg_row, &pg_records, &error)) << error;
  EXPECT_EQ(lite_row.traces, pg_row.traces);
  EXPECT_EQ(lite_row.last_seen, pg_row.last_seen);
  EXPECT_EQ(lite_records.size(), pg_records.size());
}

}  // namespace
}  // namespace zstats
