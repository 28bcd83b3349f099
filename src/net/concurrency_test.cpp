// The Windows-free core under concurrent use, as network threads and the
// task thread use it: the block queue, the job table, the trace buffer, and
// a whole download whose connections are threads of their own. Built with
// the thread sanitizer by `make test-tsan`; with ASan in the host build.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/block_queue.h"
#include "net/download_task.h"
#include "net/job_table.h"
#include "net/range_list.h"
#include "net/trace_buffer.h"
#include "sys/lock.h"

namespace {

std::string Content(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + (i >> 9)) & 0xFF);
  return s;
}

TEST(Concurrency, BlockQueueTakesWhatNetworkThreadsOffer) {
  net::BlockQueue queue;
  constexpr std::uint32_t kJobs = 4;
  constexpr std::uint32_t kChunks = 500;
  for (std::uint32_t job = 1; job <= kJobs; ++job) queue.AcceptJob(job);
  std::vector<std::thread> writers;
  for (std::uint32_t job = 1; job <= kJobs; ++job) {
    writers.emplace_back([&queue, job] {
      const std::uint8_t data[512] = {};
      for (std::uint32_t i = 0; i < kChunks; ++i) {
        int stop = 0;
        queue.Offer(i * 512, data, sizeof(data), 0, job, 0, 1, &stop);
      }
    });
  }
  std::uint64_t taken = 0;
  while (taken < std::uint64_t{kJobs} * kChunks * 512) {
    for (const net::QueuedBlockPtr& block : queue.TakeAccepted()) taken += block->length;
    queue.Drop(false, 0);  // accepted blocks stay
  }
  for (std::thread& t : writers) t.join();
  EXPECT_EQ(queue.QueuedCount(), 0u);
  EXPECT_EQ(queue.received(), kJobs * kChunks * 512);
}

TEST(Concurrency, TraceBufferReadersNeverSeeAHalfStoredText) {
  TraceBuffer buffer;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    wchar_t text[64];
    while (!done.load()) {
      ASSERT_TRUE(buffer.Copy(text, 64));
      const std::wstring seen(text);
      // Each text is one letter repeated: a torn copy would mix two.
      EXPECT_TRUE(seen.empty() || seen.find_first_not_of(seen[0]) == std::wstring::npos) << seen;
    }
  });
  for (int i = 0; i < 2000; ++i) buffer.Store(std::wstring(40, static_cast<wchar_t>(L'a' + i % 26)));
  done.store(true);
  reader.join();
}

// Jobs that run on threads of their own and report to the table, as the
// WinINet callback threads do.
class ThreadJob : public net::IHttpAsync, public net::CMyCComObjectRoot {
 public:
  ThreadJob() { std::memset(&state_, 0, sizeof(state_)); }
  ~ThreadJob() override {
    if (thread_.joinable()) thread_.join();
  }
  int Start(std::wstring, std::uint32_t, std::uint32_t, std::uint32_t, net::IOutFile*,
            std::uint32_t jobId, const wchar_t*) override {
    state_.params.context = jobId;
    state_.awaitingClose = 1;
    thread_ = std::thread([this, jobId] {
      // Looks itself up and reports its handle closed, like a callback.
      net::IHttpAsync* self = table_->AcquireRetiringJob(jobId);
      if (self == nullptr) return;
      {
        AutoLock lock(lock_);
        state_.delivered = 1;
      }
      table_->ReleaseJob(self);
    });
    return 1;
  }
  int Wait(std::uint32_t, net::HttpRequestState* snapshot, int) override {
    AutoLock lock(lock_);
    *snapshot = state_;
    return net::kWaitTimedOut;
  }
  int Close() override {
    if (thread_.joinable()) thread_.join();
    std::thread([table = table_, id = state_.params.context] { table->OnHandleClosed(id); })
        .detach();
    return 1;
  }
  int SetStopAt(std::uint32_t) override { return 1; }
  int SetTag(std::uint32_t) override { return 1; }
  int RequestAbort() override { return 1; }
  net::HttpRequestState* GetState() override { return &state_; }

  static net::DownloadJobTable* table_;

 private:
  Lock lock_;
  net::HttpRequestState state_;
  std::thread thread_;
};
net::DownloadJobTable* ThreadJob::table_ = nullptr;

TEST(Concurrency, JobTableWithCallbacksAndClosingNoticesOnOtherThreads) {
  static net::DownloadJobTable table;  // closing notices may outlive the test body
  ThreadJob::table_ = &table;
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < 50; ++i) {
    ids.push_back(table.StartJob(new net::CMyComObject<ThreadJob>(), nullptr, L"u", 0, 0, 0,
                                 nullptr));
  }
  std::unique_ptr<net::HttpRequestState> snapshot(new net::HttpRequestState);
  for (std::uint32_t id : ids) table.WaitJob(id, 0, snapshot.get(), 1);
  for (std::uint32_t id : ids) table.CloseJob(id);
  for (int i = 0; i < 500 && table.RetiredCount() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(table.ActiveCount(), 0u);
  EXPECT_EQ(table.RetiredCount(), 0u);
}

// A whole download: connections are threads that push their bytes into a
// block queue while the task polls, flushes and splits on its own thread.
class QueueFile : public DownloadFile {
 public:
  void DropQueued(bool all) override { queue.Drop(all, fileSize); }
  void AcceptJob(std::uint32_t jobId) override { queue.AcceptJob(jobId); }
  void SetResumeSupport(std::uint32_t) override {}
  bool ResumeAllowed() override { return true; }
  bool SetSize(std::uint32_t size, std::uint64_t) override {
    fileSize = size;
    data.assign(size, '\0');
    remaining.DeleteRange(size, 0xFFFFFFFFu);
    return true;
  }
  bool Flush() override {
    for (const net::QueuedBlockPtr& block : queue.TakeAccepted()) {
      const std::uint32_t inside =
          block->position >= fileSize ? 0 : std::min(block->length, fileSize - block->position);
      std::memcpy(&data[block->position], block->data(), inside);
      if (inside != 0) remaining.DeleteRange(block->position, block->position + inside - 1);
    }
    return true;
  }
  bool LoadResume(ByteRanges*, StoredResponse*) override { return false; }
  void SetRemaining(const ByteRanges&) override {}
  ByteRanges Remaining() override {
    ByteRanges ranges;
    for (const net::ByteRange& r : remaining.ranges()) ranges.emplace_back(r.first, r.last);
    return ranges;
  }
  std::uint32_t RemainingBytes() override {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining.TotalBytes(), 0xFFFFFFFF));
  }
  std::uint32_t Written() override { return fileSize - RemainingBytes(); }
  std::uint32_t Received() override { return queue.received(); }
  bool IsComplete() override { return fileSize != 0 && remaining.TotalBytes() == 0; }
  void Close() override { Flush(); }

  net::BlockQueue queue;
  net::RangeList remaining = net::RangeList::Whole();
  std::uint32_t fileSize = 0;
  std::string data;
};

class ThreadedServer : public DownloadJobs {
 public:
  ThreadedServer(QueueFile& file, std::string content)
      : file_(file), content_(std::move(content)) {}
  ~ThreadedServer() override {
    for (auto& job : jobs_) job.second->Stop();
  }

  std::uint32_t Create(const std::wstring&, bool useRange, std::uint32_t first,
                       std::uint32_t last, std::uint32_t) override {
    const std::uint32_t id = ++lastId_;
    auto job = std::make_unique<Job>();
    const std::uint32_t end = static_cast<std::uint32_t>(content_.size()) - 1;
    job->first = useRange ? first : 0;
    job->last = useRange ? std::min(last, end) : end;
    job->position = job->first;
    job->thread = std::thread([this, raw = job.get(), id, useRange] { Serve(raw, id, useRange); });
    jobs_[id] = std::move(job);
    return id;
  }
  int Wait(std::uint32_t id, std::uint32_t timeoutMs, JobSnapshot* s) override {
    auto it = jobs_.find(id);
    if (it == jobs_.end()) return kJobWaitFailed;
    Job& job = *it->second;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint32_t>(timeoutMs, 1)));
    *s = JobSnapshot();
    s->status = job.useRangeStatus.load();
    s->contentLength = job.last - job.first + 1;
    s->rangeFirst = job.first;
    s->rangeEnd = job.last;
    s->rangeTotal = static_cast<std::uint32_t>(content_.size());
    s->position = job.position.load();
    s->delivered = s->position - job.first;
    if (s->status != 0 && !job.responseReported) {
      job.responseReported = true;
      return kJobResponse;
    }
    if (job.ended.load() && !job.endReported) {
      job.endReported = true;
      return kJobEnded;
    }
    return kJobIdle;
  }
  void SetStopAt(std::uint32_t id, std::uint32_t last) override { jobs_[id]->stopAt.store(last); }
  void Close(std::uint32_t id) override {
    auto it = jobs_.find(id);
    if (it == jobs_.end()) return;
    it->second->Stop();
    jobs_.erase(it);
  }

 private:
  struct Job {
    std::uint32_t first = 0, last = 0;
    std::atomic<std::uint32_t> position{0};
    std::atomic<std::uint32_t> stopAt{0xFFFFFFFF};
    std::atomic<std::uint32_t> useRangeStatus{0};
    std::atomic<bool> ended{false};
    std::atomic<bool> abort{false};
    bool responseReported = false, endReported = false;
    std::thread thread;
    void Stop() {
      abort.store(true);
      if (thread.joinable()) thread.join();
    }
  };

  void Serve(Job* job, std::uint32_t id, bool useRange) {
    job->useRangeStatus.store(useRange ? 206 : 200);
    std::uint32_t position = job->first;
    while (!job->abort.load() && position <= std::min(job->last, job->stopAt.load())) {
      const std::uint32_t n = std::min<std::uint32_t>(16384, job->last - position + 1);
      int stop = 0;
      file_.queue.Offer(position, reinterpret_cast<const std::uint8_t*>(&content_[position]), n,
                        0, id, 0, 1, &stop);
      position += n;
      job->position.store(position);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    job->ended.store(true);
  }

  QueueFile& file_;
  std::string content_;
  std::map<std::uint32_t, std::unique_ptr<Job>> jobs_;
  std::uint32_t lastId_ = 0x0F000000u;
};

class RealTime : public DownloadEnvironment {
 public:
  std::uint64_t NowMs() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  void SleepMs(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  bool Random(std::uint32_t* value) override {
    *value = 7;
    return true;
  }
  bool Cancelled() override { return false; }
};

TEST(Concurrency, DownloadOverThreadedConnectionsIsByteIdentical) {
  const std::string content = Content(4 * 1024 * 1024);
  QueueFile file;
  ThreadedServer server(file, content);
  RealTime clock;
  TraceBuffer buffer;
  DownloadTrace trace(&buffer, [] { return 0u; });
  DownloadTask task(server, file, clock, trace, L"http://h/f.bin");
  EXPECT_EQ(task.Run(120, false, {}, {}, nullptr), kDownloadOk) << buffer.Text();
  EXPECT_TRUE(file.data == content);
}

}  // namespace
