// The request objects through real WinINet (under Wine) against the
// loopback test server, registered in the process-wide job table as the
// download task uses them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/com_object.h"
#include "net/http_types.h"
#include "net/http_ultra_sync_win.h"
#include "net/job_table.h"
#include "net/monotonic_clock.h"
#include "net/ofile_mgr_win.h"
#include "net/testing/httpd_client_win.h"

namespace net {
namespace {

const char kAgent[] =
    "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; WOW64; Trident/4.0; Vexlo Gui Installer "
    "Zetora)";

// A sink that records every chunk and assembles the bytes it was given.
class RecordingSink : public IOutFile, public CMyCComObjectRoot {
 public:
  struct Chunk {
    uint32_t position;
    uint32_t length;
    uint32_t limit;
  };

  explicit RecordingSink(uint32_t size, bool stopOnLimit = false)
      : bytes_(size, '\0'), stopOnLimit_(stopOnLimit) {}

  int Write(uint32_t position, const uint8_t* data, uint32_t length, uint32_t limit,
            uint32_t /*jobId*/, int* stop) override {
    std::lock_guard<std::mutex> lock(mutex_);
    chunks_.push_back(Chunk{position, length, limit});
    if (uint64_t{position} + length <= bytes_.size()) {
      std::memcpy(&bytes_[position], data, length);
    } else {
      outside_ = true;
    }
    if (limit != 0 && stopOnLimit_) *stop = 1;
    return 0;
  }
  int OnClose() override { return 0; }
  int OnStart() override {
    ++starts_;
    return 0;
  }
  int OnResponse(const HttpResponseInfo& response, uint32_t, uint32_t, uint32_t) override {
    contentLength_ = response.contentLength;
    return 0;
  }

  std::vector<Chunk> chunks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return chunks_;
  }
  std::string bytes(uint32_t first, uint32_t last) {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_.substr(first, last - first + 1);
  }
  bool outside() const { return outside_; }
  int starts() const { return starts_; }
  uint32_t contentLength() const { return contentLength_; }

 private:
  std::mutex mutex_;
  std::vector<Chunk> chunks_;
  std::string bytes_;
  bool stopOnLimit_;
  bool outside_ = false;
  int starts_ = 0;
  uint32_t contentLength_ = 0;
};

using Sink = CMyComObject<RecordingSink>;

struct Outcome {
  bool ended = false;
  bool responseFirst = false;  // the response event was reported before the end
  std::unique_ptr<HttpRequestState> state{new HttpRequestState()};
};

// Polls a job as the download task does (10 ms waits) until it ends.
Outcome RunToEnd(uint32_t id, DWORD budgetMs = 15000) {
  Outcome outcome;
  bool sawResponse = false;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < budgetMs) {
    const int result = DownloadJobTable::Instance().WaitJob(id, 10, outcome.state.get(), 1);
    if (result == kWaitResponse) sawResponse = true;
    if (result == kWaitEnded) {
      outcome.ended = true;
      outcome.responseFirst = sawResponse;
      break;
    }
    if (result == kWaitFailed) break;
  }
  return outcome;
}

class HttpRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << "HTTPD_PORT not set: run through with-server.sh";
    ASSERT_TRUE(server_.Reset());
  }

  uint32_t StartJob(IOutFile* sink, const std::string& path, bool useRange, uint32_t first,
                    uint32_t last, bool ultra = false) {
    return DownloadJobTable::Instance().CreateDownLoadJob(sink, server_.Url(path), useRange ? 1 : 0,
                                                          first, last, nullptr, ultra);
  }

  HttpdClient server_;
};

TEST_F(HttpRequestTest, FullGetAndRangesDeliverExactlyTheServedBytes) {
  const uint32_t size = 300000;
  ASSERT_TRUE(server_.ServePattern("/f.bin", size, 3));
  const std::string expected = PatternBytes(size, 3);

  ScopedRef<Sink> whole(new Sink(size));
  const uint32_t id = StartJob(whole.get(), "/f.bin", false, 0, 0);
  EXPECT_EQ(id & 0xFF000000u, 0x0F000000u);
  Outcome full = RunToEnd(id);
  ASSERT_TRUE(full.ended);
  EXPECT_EQ(full.state->lastError, 0u);
  EXPECT_EQ(full.state->response.status, 200u);
  EXPECT_EQ(full.state->response.contentLength, size);
  EXPECT_EQ(full.state->response.lastModified.wYear, 2023);
  EXPECT_EQ(full.state->delivered, size);
  EXPECT_EQ(std::string(full.state->hostHeader), "127.0.0.1:" + std::to_string(server_.port()));
  EXPECT_EQ(whole->starts(), 1);
  EXPECT_TRUE(whole->bytes(0, size - 1) == expected);
  // Every received chunk was counted for the 20-second speed.
  EXPECT_GT(full.state->responseChunkCount, 0);
  EXPECT_GT(full.state->speed.Speed(MonotonicSeconds()), 0u);
  DownloadJobTable::Instance().CloseJob(id);

  // Three ranges at once, as the download task runs them; the chunk that
  // crosses a range's end is cut there.
  const ByteRange ranges[] = {{0, 99999}, {100000, 150000}, {299990, 299999}};
  ScopedRef<Sink> parts(new Sink(size));
  std::vector<uint32_t> ids;
  for (const ByteRange& range : ranges) {
    ids.push_back(StartJob(parts.get(), "/f.bin", true, range.first, range.last));
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    Outcome part = RunToEnd(ids[i]);
    ASSERT_TRUE(part.ended);
    EXPECT_EQ(part.state->lastError, 0u);
    EXPECT_EQ(part.state->response.status, 206u);
    EXPECT_EQ(part.state->partialOk, 1u);
    EXPECT_EQ(part.state->totalLength, size);
    EXPECT_EQ(part.state->delivered, ranges[i].last - ranges[i].first + 1);
    EXPECT_TRUE(parts->bytes(ranges[i].first, ranges[i].last) ==
                expected.substr(ranges[i].first, ranges[i].last - ranges[i].first + 1));
    DownloadJobTable::Instance().CloseJob(ids[i]);
  }
  EXPECT_FALSE(parts->outside());

  const std::vector<HttpdClient::LogLine> log = server_.Log("/f.bin");
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].range, "-");
  EXPECT_EQ(log[0].userAgent, kAgent);
  std::vector<std::string> sent;
  for (std::size_t i = 1; i < log.size(); ++i) sent.push_back(log[i].range);
  EXPECT_NE(std::find(sent.begin(), sent.end(), "bytes=100000-150000"), sent.end());
}

TEST_F(HttpRequestTest, GetOnKeptConnectionsThatTheServerEndsIsSentAgain) {
  // Two answers keep their connections open a while without reading from
  // them, then close them, as a server does that ends idle connections (or
  // those of answers that asked for "Connection: close") without saying so.
  // The one answered later ends sooner. The next GET goes out on a kept
  // connection and loses it before any response; sent again, it can meet
  // the other kept connection the same way, and is then sent on a new one.
  const uint32_t size = 20000;
  ASSERT_TRUE(server_.ServePattern("/k1.bin", size));
  ASSERT_TRUE(server_.ServePattern("/k2.bin", size));
  ASSERT_TRUE(server_.Rule("/k1.bin", "delay=150&linger=300&count=1"));
  ASSERT_TRUE(server_.Rule("/k2.bin", "linger=900&count=1"));
  const auto expectWhole = [&](const Outcome& outcome, const char* which) {
    ASSERT_TRUE(outcome.ended) << which;
    EXPECT_EQ(outcome.state->lastError, 0u) << which;
    EXPECT_EQ(outcome.state->delivered, size) << which;
  };
  ScopedRef<Sink> sooner(new Sink(size));
  ScopedRef<Sink> later(new Sink(size));
  const uint32_t first = StartJob(sooner.get(), "/k1.bin", false, 0, 0);
  const uint32_t second = StartJob(later.get(), "/k2.bin", false, 0, 0);
  expectWhole(RunToEnd(first), "first");
  expectWhole(RunToEnd(second), "second");
  DownloadJobTable::Instance().CloseJob(first);
  DownloadJobTable::Instance().CloseJob(second);
  ScopedRef<Sink> sink(new Sink(size));
  const uint32_t id = StartJob(sink.get(), "/k1.bin", false, 0, 0);
  expectWhole(RunToEnd(id), "third");
  DownloadJobTable::Instance().CloseJob(id);
  const std::vector<HttpdClient::LogLine> log = server_.Log("/k1.bin");
  const std::vector<HttpdClient::LogLine> other = server_.Log("/k2.bin");
  ASSERT_EQ(log.size(), 2u);
  ASSERT_EQ(other.size(), 1u);
  EXPECT_NE(log[1].conn, log[0].conn);
  EXPECT_NE(log[1].conn, other[0].conn);
}

TEST_F(HttpRequestTest, RangedRequestAnsweredWith200EndsWith87AfterTheResponse) {
  ASSERT_TRUE(server_.ServePattern("/f.bin", 50000));
  ASSERT_TRUE(server_.Rule("/f.bin", "norange=1"));
  ScopedRef<Sink> sink(new Sink(50000));
  const uint32_t id = StartJob(sink.get(), "/f.bin", true, 1000, 1999);
  Outcome outcome = RunToEnd(id);
  ASSERT_TRUE(outcome.ended);
  EXPECT_TRUE(outcome.responseFirst);
  EXPECT_EQ(outcome.state->response.status, 200u);
  EXPECT_EQ(outcome.state->lastError, 87u);
  EXPECT_TRUE(sink->chunks().empty());  // nothing of the whole file was delivered
  DownloadJobTable::Instance().CloseJob(id);
}

TEST_F(HttpRequestTest, EmptyBodyEndsAtOnceWithSuccess) {
  ASSERT_TRUE(server_.ServePattern("/empty.bin", 0));
  ScopedRef<Sink> sink(new Sink(16));
  const uint32_t id = StartJob(sink.get(), "/empty.bin", false, 0, 0);
  const DWORD start = GetTickCount();
  Outcome outcome = RunToEnd(id);
  ASSERT_TRUE(outcome.ended);
  EXPECT_LT(GetTickCount() - start, 3000u);
  EXPECT_EQ(outcome.state->lastError, 0u);
  EXPECT_EQ(outcome.state->response.status, 200u);
  EXPECT_EQ(outcome.state->response.contentLength, 0u);
  EXPECT_EQ(sink->contentLength(), 0u);
  EXPECT_TRUE(sink->chunks().empty());
  DownloadJobTable::Instance().CloseJob(id);
}

TEST_F(HttpRequestTest, StopOffsetSetWhileRunningEndsTheJobThere) {
  const uint32_t size = 200000;
  const uint32_t stopAt = 60000;
  ASSERT_TRUE(server_.ServePattern("/slow.bin", size));
  ASSERT_TRUE(server_.Rule("/slow.bin", "rate=100000"));  // about 2 s for the whole file
  ScopedRef<Sink> sink(new Sink(size, /*stopOnLimit=*/true));
  const uint32_t id = StartJob(sink.get(), "/slow.bin", true, 0, size - 1);
  std::unique_ptr<HttpRequestState> snapshot(new HttpRequestState());
  int result = kWaitTimedOut;
  for (int i = 0; i < 500 && result != kWaitResponse; ++i) {
    result = DownloadJobTable::Instance().WaitJob(id, 10, snapshot.get(), 1);
  }
  ASSERT_EQ(result, kWaitResponse);
  EXPECT_EQ(DownloadJobTable::Instance().SetJobStopAt(id, stopAt), 1);
  Outcome outcome = RunToEnd(id);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.state->lastError, 0u);

  // The job ends at the stop offset: later reads are cut there, and a read
  // already under way that crosses it is the last chunk and carries it.
  const std::vector<RecordingSink::Chunk> chunks = sink->chunks();
  ASSERT_FALSE(chunks.empty());
  uint64_t kept = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const uint64_t end = uint64_t{chunks[i].position} + chunks[i].length;
    if (end > stopAt + 1ull) {
      EXPECT_EQ(chunks[i].limit, stopAt);
      EXPECT_EQ(i, chunks.size() - 1) << "the job went on after the sink stopped it";
      kept += stopAt + 1ull - chunks[i].position;
    } else {
      EXPECT_EQ(chunks[i].limit, 0u);
      kept += chunks[i].length;
    }
  }
  EXPECT_EQ(kept, stopAt + 1ull);
  EXPECT_LT(outcome.state->delivered, size);
  DownloadJobTable::Instance().CloseJob(id);
}

// With both events pending, the asynchronous request reports its response
// first and the threaded one its end first.
TEST_F(HttpRequestTest, PendingEventsAreReportedInEachClassesOrder) {
  ASSERT_TRUE(server_.ServePattern("/small.bin", 100));
  std::unique_ptr<HttpRequestState> snapshot(new HttpRequestState());
  for (bool ultra : {false, true}) {
    ScopedRef<Sink> sink(new Sink(100));
    const uint32_t id = StartJob(sink.get(), "/small.bin", true, 0, 99, ultra);
    IHttpAsync* job = DownloadJobTable::Instance().AcquireJob(id);
    ASSERT_NE(job, nullptr);
    for (int i = 0; i < 300 && job->GetState()->delivered < 100; ++i) Sleep(10);
    Sleep(100);  // both events are set by now
    DownloadJobTable::Instance().ReleaseJob(job);
    const int first = DownloadJobTable::Instance().WaitJob(id, 1000, snapshot.get(), 1);
    const int second = DownloadJobTable::Instance().WaitJob(id, 1000, snapshot.get(), 1);
    EXPECT_EQ(first, ultra ? kWaitEnded : kWaitResponse) << "ultra=" << ultra;
    EXPECT_EQ(second, ultra ? kWaitResponse : kWaitEnded) << "ultra=" << ultra;
    EXPECT_EQ(DownloadJobTable::Instance().WaitJob(id, 10, snapshot.get(), 1), kWaitTimedOut);
    DownloadJobTable::Instance().CloseJob(id);
  }
}

TEST_F(HttpRequestTest, WaitThatTimesOutStillCopiesAFreshSnapshot) {
  ASSERT_TRUE(server_.ServePattern("/late.bin", 1000));
  ASSERT_TRUE(server_.Rule("/late.bin", "delay=3000"));
  ScopedRef<Sink> sink(new Sink(1000));
  const uint32_t id = StartJob(sink.get(), "/late.bin", false, 0, 0);
  std::unique_ptr<HttpRequestState> snapshot(new HttpRequestState());
  std::memset(snapshot.get(), 0xCD, sizeof(HttpRequestState));
  EXPECT_EQ(DownloadJobTable::Instance().WaitJob(id, 50, snapshot.get(), 1), kWaitTimedOut);
  EXPECT_EQ(snapshot->params.context, id);
  EXPECT_EQ(snapshot->lastError, 0u);
  EXPECT_EQ(snapshot->firstReadCounter, 0);

  IHttpAsync* job = DownloadJobTable::Instance().AcquireJob(id);
  ASSERT_NE(job, nullptr);
  job->SetTag(0x1234);
  DownloadJobTable::Instance().ReleaseJob(job);
  EXPECT_EQ(DownloadJobTable::Instance().WaitJob(id, 20, snapshot.get(), 1), kWaitTimedOut);
  EXPECT_EQ(snapshot->tag, 0x1234u);

  // Closing a job that is still waiting for its response retires it at once.
  const DWORD start = GetTickCount();
  DownloadJobTable::Instance().CloseJob(id);
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_FALSE(DownloadJobTable::Instance().IsActive(id));
  EXPECT_EQ(DownloadJobTable::Instance().WaitJob(id, 10, snapshot.get(), 1), kWaitFailed);
}

// A job that cannot be set up ends at once with its error, so the download
// task backs off and retries instead of waiting for it until the deadline;
// nothing reaches the server.
TEST_F(HttpRequestTest, JobThatCannotBeSetUpEndsAtOnce) {
  const std::wstring url = server_.Url("/" + std::string(1100, 'a'));
  std::unique_ptr<HttpRequestState> snapshot(new HttpRequestState());
  for (bool ultra : {false, true}) {
    ScopedRef<Sink> sink(new Sink(16));
    const uint32_t id =
        DownloadJobTable::Instance().CreateDownLoadJob(sink.get(), url, 0, 0, 0, nullptr, ultra);
    EXPECT_EQ(DownloadJobTable::Instance().WaitJob(id, 20, snapshot.get(), 1), kWaitEnded);
    EXPECT_EQ(snapshot->lastError, 87u);
    DownloadJobTable::Instance().CloseJob(id);
  }
  EXPECT_TRUE(server_.Log("").empty());
}

// Replies that must never become a body: bytes without an HTTP status line,
// and a length beyond 32 bits.
TEST_F(HttpRequestTest, NonHttpReplyAndOversizeLengthEndWithoutDelivering) {
  ASSERT_TRUE(server_.ServePattern("/f.bin", 50000));
  const struct {
    const char* rule;
    uint32_t status;
    uint32_t tooLarge;
  } cases[] = {{"garbage=1&count=1", 0, 0}, {"length=5000000000&count=1", 200, 1}};
  for (const auto& c : cases) {
    ASSERT_TRUE(server_.Rule("/f.bin", c.rule));
    ScopedRef<Sink> sink(new Sink(50000));
    const uint32_t id = StartJob(sink.get(), "/f.bin", false, 0, 0);
    Outcome outcome = RunToEnd(id);
    ASSERT_TRUE(outcome.ended) << c.rule;
    EXPECT_EQ(outcome.state->response.status, c.status) << c.rule;
    EXPECT_EQ(outcome.state->sizeTooLarge, c.tooLarge) << c.rule;
    EXPECT_EQ(outcome.state->lastError, 12152u) << c.rule;
    EXPECT_TRUE(sink->chunks().empty()) << c.rule;
    DownloadJobTable::Instance().CloseJob(id);
  }
}

// Every snapshot is taken whole: the position always matches the bytes
// delivered so far, however often the task looks while data flows.
TEST_F(HttpRequestTest, SnapshotsTakenWhileDataFlowsAreConsistent) {
  const uint32_t size = 4 * 1024 * 1024;
  ASSERT_TRUE(server_.ServePattern("/f.bin", size));
  ScopedRef<Sink> sink(new Sink(size));
  const uint32_t id = StartJob(sink.get(), "/f.bin", true, 1000, size - 1);
  std::unique_ptr<HttpRequestState> snapshot(new HttpRequestState());
  int torn = 0;
  int seen = 0;
  for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000;) {
    const int result = DownloadJobTable::Instance().WaitJob(id, 0, snapshot.get(), 0);
    if (snapshot->delivered != 0) {
      ++seen;
      if (snapshot->position != 1000 + snapshot->delivered) ++torn;
    }
    if (result == kWaitEnded) break;
  }
  EXPECT_GT(seen, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(snapshot->delivered, size - 1000);
  DownloadJobTable::Instance().CloseJob(id);
}

TEST_F(HttpRequestTest, ThreadedJobSendsTheOpenEndedRangeAndDeliversFromItsStart) {
  const uint32_t size = 100000;
  ASSERT_TRUE(server_.ServePattern("/u.bin", size, 9));
  const std::string expected = PatternBytes(size, 9);
  ScopedRef<Sink> sink(new Sink(size));
  const uint32_t open = StartJob(sink.get(), "/u.bin", true, 1000, 0xFFFFFFFFu, /*ultra=*/true);
  Outcome outcome = RunToEnd(open);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.state->response.status, 206u);
  EXPECT_EQ(outcome.state->delivered, size - 1000);
  EXPECT_TRUE(sink->bytes(1000, size - 1) == expected.substr(1000));
  DownloadJobTable::Instance().CloseJob(open);

  const uint32_t bounded = StartJob(sink.get(), "/u.bin", true, 10, 19, /*ultra=*/true);
  ASSERT_TRUE(RunToEnd(bounded).ended);
  DownloadJobTable::Instance().CloseJob(bounded);

  const std::vector<HttpdClient::LogLine> log = server_.Log("/u.bin");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].range, "bytes=1000-");
  EXPECT_EQ(log[1].range, "bytes=10-19");
  // The User-Agent header replaces the root handle's agent.
  EXPECT_EQ(log[0].userAgent, kAgent);
}

TEST_F(HttpRequestTest, RedirectKeepsTheRedirectUrlAndBothServerAddressesApart) {
  const uint32_t size = 20000;
  ASSERT_TRUE(server_.ServePattern("/f.bin", size, 1));
  const std::wstring target = server_.AltUrl("/f.bin");
  const std::string targetNarrow(target.begin(), target.end());
  ASSERT_TRUE(server_.Rule("/moved.bin", "redirect=" + targetNarrow));
  ScopedRef<Sink> sink(new Sink(size));
  // Through "localhost": WinINet pools connections per host name, and only a
  // new connection reports the address it connected to.
  const std::wstring first = L"http://localhost:" + std::to_wstring(server_.port()) + L"/moved.bin";
  const uint32_t id =
      DownloadJobTable::Instance().CreateDownLoadJob(sink.get(), first, 0, 0, 0, nullptr, false);
  Outcome outcome = RunToEnd(id);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.state->lastError, 0u);
  EXPECT_EQ(outcome.state->redirected, 1u);
  EXPECT_EQ(std::wstring(outcome.state->redirectUrl), target);
  EXPECT_EQ(std::wstring(outcome.state->serverBefore), L"127.0.0.1");
  EXPECT_EQ(std::wstring(outcome.state->serverAfter), L"127.0.0.2");
  EXPECT_TRUE(sink->bytes(0, size - 1) == PatternBytes(size, 1));
  DownloadJobTable::Instance().CloseJob(id);

  const std::vector<HttpdClient::LogLine> served = server_.Log("/f.bin");
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].listener, "alt");
}

TEST_F(HttpRequestTest, RequestIntoTheFileManagerWritesTheServedFile) {
  const uint32_t size = 700000;
  ASSERT_TRUE(server_.ServePattern("/pkg.bin", size, 4));
  const std::wstring dir = MakeTestDirectory(L"net_http_file");
  const std::wstring path = dir + L"\\pkg.bin";
  ScopedRef<CMyComObject<COFileMgr>> manager(new CMyComObject<COFileMgr>());
  ASSERT_TRUE(manager->Open(path, true, server_.Url("/pkg.bin")));
  ASSERT_TRUE(manager->SetSize(size, nullptr));
  ScopedRef<IOutFile> sink = ScopedRef<IOutFile>::Adopt(manager->CreateSubStream(0, 0));
  const uint32_t id = StartJob(sink.get(), "/pkg.bin", false, 0, 0);
  manager->AcceptJob(id);
  Outcome outcome = RunToEnd(id);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.state->lastError, 0u);
  DownloadJobTable::Instance().CloseJob(id);
  ASSERT_TRUE(manager->Flush());
  EXPECT_TRUE(manager->IsComplete());
  manager->Close();
  EXPECT_TRUE(ReadWholeFile(path) == PatternBytes(size, 4));
}


}  // namespace
}  // namespace net
