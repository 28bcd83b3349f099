// The job table over a stand-in request: WinINet requests exist only in
// the Windows build, where net_http_test drives the table with real ones.
#include "net/job_table.h"

#include <gtest/gtest.h>

#include <cstring>

#include "net/com_object.h"

namespace net {
namespace {

struct JobLog {
  int started = 0;
  int closed = 0;
  int aborted = 0;
  int waits = 0;
  uint32_t stopAt = 0;
  bool destroyed = false;
  uint32_t startedId = 0;
};

class StandInJob : public IHttpAsync, public CMyCComObjectRoot {
 public:
  explicit StandInJob(JobLog* log) : log_(log) { std::memset(&state_, 0, sizeof(state_)); }
  ~StandInJob() override { log_->destroyed = true; }

  int Start(std::wstring, uint32_t, uint32_t, uint32_t, IOutFile*, uint32_t jobId,
            const wchar_t*) override {
    ++log_->started;
    log_->startedId = jobId;
    state_.params.context = jobId;
    return 1;
  }
  int Wait(uint32_t, HttpRequestState* snapshot, int) override {
    ++log_->waits;
    state_.tag = 42;
    *snapshot = state_;
    return kWaitTimedOut;
  }
  int Close() override {
    // A request handle whose closing notice WinINet sends from inside the
    // close call itself.
    if (closingTable_ != nullptr) closingTable_->OnHandleClosed(state_.params.context);
    return ++log_->closed;
  }
  // The job has a request handle open from now on.
  void OpenHandle(DownloadJobTable* table) {
    closingTable_ = table;
    state_.awaitingClose = 1;
  }
  int SetStopAt(uint32_t last) override {
    log_->stopAt = last;
    return 1;
  }
  int SetTag(uint32_t) override { return 1; }
  int RequestAbort() override { return ++log_->aborted; }
  HttpRequestState* GetState() override { return &state_; }

  uint32_t refs() const { return refCount_.load(); }

 private:
  JobLog* log_;
  HttpRequestState state_;
  DownloadJobTable* closingTable_ = nullptr;
};

using Job = CMyComObject<StandInJob>;

TEST(ComObjectTest, CountsReferencesAndDestroysAtZero) {
  JobLog log;
  Job* job = new Job(&log);
  EXPECT_EQ(job->AddRef(), 1u);
  EXPECT_EQ(job->AddRef(), 2u);
  void* other = job;
  EXPECT_EQ(job->QueryInterface(nullptr, &other), static_cast<long>(0x80004001));
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(job->Release(), 1u);
  EXPECT_FALSE(log.destroyed);
  EXPECT_EQ(job->Release(), 0u);
  EXPECT_TRUE(log.destroyed);
}

TEST(JobTableTest, IdsCarryTheMarkerAndCount) {
  const uint32_t a = NewJobId();
  const uint32_t b = NewJobId();
  EXPECT_EQ(a & 0xFF000000u, 0x0F000000u);
  EXPECT_EQ(b, a + 1);
}

TEST(JobTableTest, StartRegistersUnderTheIdItPassesToStart) {
  DownloadJobTable table;
  JobLog log;
  Job* job = new Job(&log);
  const uint32_t id = table.StartJob(job, nullptr, L"http://h/f", 1, 0, 99, nullptr);
  EXPECT_EQ(log.started, 1);
  EXPECT_EQ(log.startedId, id);
  EXPECT_TRUE(table.IsActive(id));
  EXPECT_EQ(job->refs(), 1u);  // the table's reference

  HttpRequestState* state = table.Acquire(id);
  ASSERT_EQ(state, job->GetState());
  EXPECT_EQ(job->refs(), 2u);
  table.Release(state);
  EXPECT_EQ(job->refs(), 1u);
  EXPECT_EQ(table.Acquire(id + 1000), nullptr);

  HttpRequestState snapshot;
  EXPECT_EQ(table.WaitJob(id, 10, &snapshot, 1), kWaitTimedOut);
  EXPECT_EQ(snapshot.tag, 42u);
  EXPECT_EQ(table.SetJobStopAt(id, 77), 1);
  EXPECT_EQ(log.stopAt, 77u);
}

TEST(JobTableTest, ClosedJobsAreRetiredButLiveOnWhileReferenced) {
  DownloadJobTable table;
  JobLog log;
  const uint32_t id = table.StartJob(new Job(&log), nullptr, L"http://h/f", 0, 0, 0, nullptr);
  // A callback still holds the job when the task closes it.
  HttpRequestState* held = table.Acquire(id);
  table.CloseJob(id);
  EXPECT_EQ(log.closed, 1);
  EXPECT_EQ(log.aborted, 1);
  EXPECT_FALSE(table.IsActive(id));
  EXPECT_FALSE(log.destroyed);
  HttpRequestState snapshot;
  EXPECT_EQ(table.WaitJob(id, 10, &snapshot, 1), kWaitFailed);
  EXPECT_EQ(log.waits, 0);
  EXPECT_EQ(table.Acquire(id), nullptr);  // late callbacks find nothing
  table.Release(held);                    // the last reference
  EXPECT_TRUE(log.destroyed);
  table.CloseJob(id);  // closing twice is harmless
  EXPECT_EQ(log.closed, 1);
}

TEST(JobTableTest, ClosingNoticeInsideCloseLeavesNoRetiredEntryBehind) {
  DownloadJobTable table;
  JobLog log;
  Job* job = new Job(&log);
  const uint32_t id = table.StartJob(job, nullptr, L"http://h/f", 0, 0, 0, nullptr);
  job->OpenHandle(&table);
  table.CloseJob(id);
  EXPECT_TRUE(log.destroyed);
  EXPECT_EQ(table.RetiredCount(), 0u);
  EXPECT_EQ(table.AcquireRetiringJob(id), nullptr);  // no pointer to a freed job
}

TEST(JobTableTest, RetiredJobWaitsForItsClosingNoticeAndReleaseNeverLeaks) {
  DownloadJobTable table;
  JobLog log;
  Job* job = new Job(&log);
  const uint32_t id = table.StartJob(job, nullptr, L"http://h/f", 0, 0, 0, nullptr);
  job->GetState()->awaitingClose = 1;  // the notice comes later, from another thread
  HttpRequestState* held = table.Acquire(id);
  table.CloseJob(id);
  EXPECT_EQ(table.RetiredCount(), 1u);
  table.OnHandleClosed(id);
  EXPECT_EQ(table.RetiredCount(), 0u);
  EXPECT_FALSE(log.destroyed);
  table.Release(held);  // the job is in neither map now, and still released
  EXPECT_TRUE(log.destroyed);
}

}  // namespace
}  // namespace net
