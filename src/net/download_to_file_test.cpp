// The download call through real WinINet under Wine against the scriptable
// loopback server: connection counts, server faults, cancellation, the
// trace, and byte-identical files after every successful case.
#include "net/download_to_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "net/testing/download_runner_win.h"
#include "net/testing/httpd_client_win.h"

namespace {

class DownloadToFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << "HTTPD_PORT is not set";
    ASSERT_TRUE(server_.Reset());
    dir_ = MakeTestDirectory(L"zwi-download");
  }
  std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }

  static constexpr std::uint32_t kMediumSize = 2 * 1024 * 1024;
  // A 2 MiB pattern file sent at 3 MB/s per connection, so that connections
  // overlap; a given rule applies before the rate.
  void ServeMedium(const std::string& path, unsigned seed, const std::string& rule = "") {
    ASSERT_TRUE(server_.ServePattern(path, kMediumSize, seed));
    if (!rule.empty()) {
      ASSERT_TRUE(server_.Rule(path, rule));
    }
    ASSERT_TRUE(server_.Rule(path, "rate=3000000"));
  }
  // The download succeeded and the file holds exactly the served bytes.
  void ExpectServedFile(const DownloadOutcome& o, const wchar_t* name, std::uint32_t size,
                        unsigned seed) {
    EXPECT_EQ(o.result, 0) << o.trace;
    EXPECT_TRUE(ReadWholeFile(Path(name)) == PatternBytes(size, seed));
  }
  std::vector<HttpdClient::LogLine> Requests(const std::string& path) { return server_.Log(path); }
  static int Ranged(const std::vector<HttpdClient::LogLine>& log) {
    int n = 0;
    for (const auto& line : log) n += line.range != "-" ? 1 : 0;
    return n;
  }

  HttpdClient server_;
  std::wstring dir_;
};

// The first request of every download asks for the first piece.
const char kFirstRange[] = "bytes=0-1048575";

bool Contains(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

TEST_F(DownloadToFile, SmallFileArrivesOverOneConnection) {
  ASSERT_TRUE(server_.ServePattern("/small.bin", 300000, 1));
  const DownloadOutcome o = RunDownload(server_.Url("/small.bin"), Path(L"small.bin"), 60);
  EXPECT_EQ(o.result, 0) << o.trace;
  EXPECT_EQ(o.progress, 100);
  EXPECT_TRUE(ReadWholeFile(Path(L"small.bin")) == PatternBytes(300000, 1));
  const auto log = Requests("/small.bin");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].range, kFirstRange);
  EXPECT_EQ(o.trace.substr(0, 10), L"0:ds0:0,0;");
  EXPECT_TRUE(Contains(o.trace, L":dse0:0,")) << o.trace;
  EXPECT_EQ(o.trace.back(), L';');
}

TEST_F(DownloadToFile, FourMegabytesUseEightConnections) {
  const std::uint32_t size = 4 * 1024 * 1024;
  ASSERT_TRUE(server_.ServePattern("/four.bin", size, 2));
  // A modest rate keeps the first connection busy while the others start.
  ASSERT_TRUE(server_.Rule("/four.bin", "rate=4000000"));
  const DownloadOutcome o = RunDownload(server_.Url("/four.bin"), Path(L"four.bin"), 120);
  EXPECT_EQ(o.result, 0) << o.trace;
  EXPECT_TRUE(ReadWholeFile(Path(L"four.bin")) == PatternBytes(size, 2));
  const auto log = Requests("/four.bin");
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[0].range, kFirstRange);
  EXPECT_EQ(Ranged(log), static_cast<int>(log.size()));
  EXPECT_TRUE(Contains(o.trace, L"wlrc;")) << o.trace;
  EXPECT_TRUE(Contains(o.trace, L"sc;")) << o.trace;
}

// A package needs no cookies, and keeping them costs every request a
// round through WinINet's cookie store: a cookie the server sets is never
// sent back by the download's later requests.
TEST_F(DownloadToFile, RequestsSendNoCookieTheServerSet) {
  ServeMedium("/cookie.bin", 15, "setcookie=zwi&rate=3000000");
  const DownloadOutcome o = RunDownload(server_.Url("/cookie.bin"), Path(L"cookie.bin"), 60);
  ExpectServedFile(o, L"cookie.bin", kMediumSize, 15);
  const std::vector<HttpdClient::LogLine> log = Requests("/cookie.bin");
  EXPECT_GT(log.size(), 1u);
  for (const HttpdClient::LogLine& line : log) EXPECT_EQ(line.cookie, "-") << line.range;
}

TEST_F(DownloadToFile, NotFoundEndsAtOnceAsCancelled) {
  ASSERT_TRUE(server_.ServePattern("/gone.bin", 1000));
  ASSERT_TRUE(server_.Rule("/gone.bin", "status=404"));
  const DownloadOutcome o = RunDownload(server_.Url("/gone.bin"), Path(L"gone.bin"), 60);
  EXPECT_EQ(o.result, 1223);
  EXPECT_LT(o.elapsedMs, 3000u);
  EXPECT_EQ(Requests("/gone.bin").size(), 1u);
  EXPECT_TRUE(Contains(o.trace, L"wlrha3:404;")) << o.trace;
}

TEST_F(DownloadToFile, ServiceUnavailableRetriesAfterFourSecondsUntilTheDeadline) {
  ASSERT_TRUE(server_.ServePattern("/busy.bin", 1000));
  ASSERT_TRUE(server_.Rule("/busy.bin", "status=503"));
  const DownloadOutcome o = RunDownload(server_.Url("/busy.bin"), Path(L"busy.bin"), 7);
  EXPECT_EQ(o.result, 1460);
  EXPECT_EQ(Requests("/busy.bin").size(), 2u) << "one retry after the 4-second back-off";
  EXPECT_TRUE(Contains(o.trace, L"wlrrs3:503;")) << o.trace;
  EXPECT_TRUE(Contains(o.trace, L"ato;")) << o.trace;
}

TEST_F(DownloadToFile, CancelDuringTheBackOffEndsWithinOnePass) {
  ASSERT_TRUE(server_.ServePattern("/busy.bin", 1000));
  ASSERT_TRUE(server_.Rule("/busy.bin", "status=503"));
  const DownloadOutcome o = RunDownload(server_.Url("/busy.bin"), Path(L"busy.bin"), 60, 0, 1500);
  EXPECT_EQ(o.result, 1223);
  EXPECT_LT(o.elapsedMs, 3000u);
  EXPECT_TRUE(Contains(o.trace, L"atc;")) << o.trace;
}

TEST_F(DownloadToFile, CancelBeforeTheFirstResponse) {
  ASSERT_TRUE(server_.ServePattern("/slow.bin", 1000));
  ASSERT_TRUE(server_.Rule("/slow.bin", "delay=4000"));
  const DownloadOutcome o = RunDownload(server_.Url("/slow.bin"), Path(L"slow.bin"), 60, 0, 300);
  EXPECT_EQ(o.result, 1223);
  EXPECT_EQ(o.progress, 100);
  EXPECT_LT(o.elapsedMs, 2500u);
}

TEST_F(DownloadToFile, ChangedLastModifiedRestartsAndTheFileEndsCorrect) {
  ServeMedium("/moved.bin", 3, "lastmod=1700000999&from=3&count=1");
  const DownloadOutcome o = RunDownload(server_.Url("/moved.bin"), Path(L"moved.bin"), 120);
  ExpectServedFile(o, L"moved.bin", kMediumSize, 3);
  EXPECT_TRUE(Contains(o.trace, L"rirre5:206;")) << o.trace;
  EXPECT_TRUE(Contains(o.trace, L"rirrelt2")) << o.trace;
}

TEST_F(DownloadToFile, ConnectionsDroppedMidRangeAreRefetched) {
  ServeMedium("/drop.bin", 4, "drop=100000&from=2&count=2");
  const DownloadOutcome o = RunDownload(server_.Url("/drop.bin"), Path(L"drop.bin"), 120);
  ExpectServedFile(o, L"drop.bin", kMediumSize, 4);
  EXPECT_TRUE(Contains(o.trace, L"riej5:0;")) << o.trace;
}

TEST_F(DownloadToFile, ServerIgnoringRangeStillGivesTheWholeFile) {
  ServeMedium("/norange.bin", 5, "norange=1&rate=3000000&from=2");
  const DownloadOutcome o = RunDownload(server_.Url("/norange.bin"), Path(L"norange.bin"), 120);
  ExpectServedFile(o, L"norange.bin", kMediumSize, 5);
}

TEST_F(DownloadToFile, RedirectTargetServesTheRangedRequests) {
  ServeMedium("/target.bin", 6);
  const std::wstring target = server_.AltUrl("/target.bin");
  ASSERT_TRUE(server_.Rule("/start.bin",
                           "redirect=" + std::string(target.begin(), target.end())));
  const DownloadOutcome o = RunDownload(server_.Url("/start.bin"), Path(L"redirect.bin"), 120);
  ExpectServedFile(o, L"redirect.bin", kMediumSize, 6);
  const auto log = Requests("/target.bin");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].listener, "alt");
  for (std::size_t i = 1; i < log.size(); ++i) {
    EXPECT_NE(log[i].range, "-");
    EXPECT_EQ(log[i].target.find("/target.bin?rnd="), 0u) << log[i].target;
  }
  EXPECT_TRUE(Contains(o.trace, L"dmjfru:http://127.0.0.2:")) << o.trace;
}

TEST_F(DownloadToFile, BodyWithoutContentLengthCompletes) {
  const std::uint32_t size = 700000;
  ASSERT_TRUE(server_.ServePattern("/stream.bin", size, 7));
  ASSERT_TRUE(server_.Rule("/stream.bin", "nolength=1"));
  DownloadOutcome o = RunDownload(server_.Url("/stream.bin"), Path(L"stream.bin"), 60);
  ExpectServedFile(o, L"stream.bin", size, 7);
  EXPECT_LT(o.elapsedMs, 30000u);

  ASSERT_TRUE(server_.Reset());
  ASSERT_TRUE(server_.ServePattern("/chunked.bin", size, 8));
  ASSERT_TRUE(server_.Rule("/chunked.bin", "chunked=1"));
  o = RunDownload(server_.Url("/chunked.bin"), Path(L"chunked.bin"), 60);
  ExpectServedFile(o, L"chunked.bin", size, 8);
}

TEST_F(DownloadToFile, ReplyThatIsNotHttpIsNeverTheFile) {
  ASSERT_TRUE(server_.ServePattern("/junk.bin", 100000, 9));
  ASSERT_TRUE(server_.Rule("/junk.bin", "garbage=1"));
  const DownloadOutcome o = RunDownload(server_.Url("/junk.bin"), Path(L"junk.bin"), 6);
  EXPECT_EQ(o.result, 1460) << o.trace;
  EXPECT_TRUE(Contains(o.trace, L"wlrrs3:0;")) << o.trace;  // refused, retried after back-off
}

TEST_F(DownloadToFile, LengthBeyondFourGigabytesEndsAtOnceWithTooLarge) {
  ASSERT_TRUE(server_.ServePattern("/huge.bin", 700000, 10));
  ASSERT_TRUE(server_.Rule("/huge.bin", "length=5000000000"));
  const DownloadOutcome o = RunDownload(server_.Url("/huge.bin"), Path(L"huge.bin"), 60);
  EXPECT_EQ(o.result, 223) << o.trace;
  EXPECT_LT(o.elapsedMs, 5000u);
  EXPECT_EQ(Requests("/huge.bin").size(), 1u);
}

TEST_F(DownloadToFile, RangeEndingOneByteShortIsFetchedAgain) {
  ServeMedium("/short.bin", 11, "short=1&from=2&count=2");
  const DownloadOutcome o = RunDownload(server_.Url("/short.bin"), Path(L"short.bin"), 120);
  ExpectServedFile(o, L"short.bin", kMediumSize, 11);
  EXPECT_TRUE(Contains(o.trace, L"riej5:0;")) << o.trace;
}

TEST_F(DownloadToFile, RedirectTargetWithAQueryKeepsIt) {
  ServeMedium("/signed.bin", 12);
  const std::wstring target = server_.AltUrl("/signed.bin");
  // The rule value is a URL with its own query, escaped for the control URL.
  ASSERT_TRUE(server_.Rule("/link.bin", "redirect=" + std::string(target.begin(), target.end()) +
                                            "%3Fsig%3Dx"));
  const DownloadOutcome o = RunDownload(server_.Url("/link.bin"), Path(L"signed.bin"), 120);
  ExpectServedFile(o, L"signed.bin", kMediumSize, 12);
  const auto log = Requests("/signed.bin");
  ASSERT_GE(log.size(), 2u);
  for (std::size_t i = 1; i < log.size(); ++i) {
    EXPECT_EQ(log[i].target.find("/signed.bin?sig=x&rnd="), 0u) << log[i].target;
  }
}

// Unthrottled on loopback the server outruns any reader, and WinINet reads
// what is left of a response whose handle closes early off the connection.
// Every request asks for a bounded piece and is read to its end, so the
// file is sent about once; a piece answered with the whole file (a server
// that ignores Range) is kept as the one connection, and what the others
// had left of their pieces is sent for nothing.
constexpr std::uint64_t kOverrunAtStop = 8ull * 1024 * 1024;
constexpr std::uint64_t kOverrunPerCutConnection = 6ull * 1024 * 1024;

TEST_F(DownloadToFile, FastServerSendsTheFileAboutOnce) {
  const std::uint32_t size = 96 * 1024 * 1024;
  struct Case {
    const char* path;
    const char* rule;  // empty: none
    unsigned seed;
    bool cutAtResponse;
  } const cases[] = {
      {"/fast.bin", "", 20, false},
      // Ranged requests answered with the whole file: the first connection
      // fetches it alone, the others are cut at once.
      {"/fastnorange.bin", "norange=1&from=2", 21, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_TRUE(server_.ServePattern(c.path, size, c.seed));
    if (*c.rule) {
      ASSERT_TRUE(server_.Rule(c.path, c.rule));
    }
    const DownloadOutcome o = RunDownload(server_.Url(c.path), Path(L"fast.bin"), 120);
    ExpectServedFile(o, L"fast.bin", size, c.seed);
    const std::uint64_t served = server_.BytesServed(c.path);
    const std::vector<HttpdClient::LogLine> requests = Requests(c.path);
    std::string listed;
    for (const HttpdClient::LogLine& line : requests) {
      listed += " " + line.range + ":" + std::to_string(line.bodyBytes);
    }
    const std::uint64_t overrun =
        c.cutAtResponse ? (requests.size() - 1) * kOverrunPerCutConnection : kOverrunAtStop;
    EXPECT_LE(served, size + overrun) << served << " bytes served;" << listed;
  }
}

TEST_F(DownloadToFile, CancelledFastDownloadLeavesNoConnectionSending) {
  const std::uint32_t size = 96 * 1024 * 1024;
  ASSERT_TRUE(server_.ServePattern("/cut.bin", size, 22));
  // Fast, but not so fast that the file is whole before the cancel: a
  // 32-bit build on loopback fetched 96 MiB unthrottled in under 150 ms.
  ASSERT_TRUE(server_.Rule("/cut.bin", "rate=16777216"));
  const DownloadOutcome o = RunDownload(server_.Url("/cut.bin"), Path(L"cut.bin"), 120, 0, 150);
  ASSERT_EQ(o.result, 1223) << o.trace;
  // Closing reads what each connection had left of its piece (Wine reads it
  // off the connection, 1 KiB at a time): bounded, never the file's rest.
  EXPECT_LT(o.elapsedMs, 5000u) << "closing read the rest of the connections";
  // The server logs a request once its last byte is sent, a moment after
  // the client read it, later on a loaded machine: the count is taken once
  // it has stayed the same for half a second, and it must settle.
  std::uint64_t served = server_.BytesServed("/cut.bin");
  bool settled = false;
  for (int waitedMs = 0; waitedMs < 10000 && !settled; waitedMs += 500) {
    Sleep(500);
    const std::uint64_t now = server_.BytesServed("/cut.bin");
    settled = now == served;
    served = now;
  }
  EXPECT_TRUE(settled) << "a connection went on sending";
  EXPECT_LT(served, size);
  // Nothing was sent beyond the pieces the requests asked for.
  std::uint64_t asked = 0;
  for (const HttpdClient::LogLine& line : Requests("/cut.bin")) {
    unsigned long first = 0, last = 0;
    if (std::sscanf(line.range.c_str(), "bytes=%lu-%lu", &first, &last) == 2) {
      asked += last - first + 1;
    }
  }
  EXPECT_LE(served, asked);
  // The next download starts at once.
  ASSERT_TRUE(server_.ServePattern("/next.bin", 300000, 23));
  const DownloadOutcome next = RunDownload(server_.Url("/next.bin"), Path(L"next.bin"), 60);
  ExpectServedFile(next, L"next.bin", 300000, 23);
  EXPECT_LT(next.elapsedMs, 2000u);
}

// Threads that run a call and report whether it came back in time.
struct TimedCall {
  static DWORD WINAPI Run(void* self) {
    static_cast<TimedCall*>(self)->call();
    return 0;
  }
  // True when call returned within ms.
  bool Within(DWORD ms) {
    ScopedHandle thread(CreateThread(nullptr, 0, Run, this, 0, nullptr));
    return thread.IsValid() && WaitForSingleObject(thread.Get(), ms) == WAIT_OBJECT_0;
  }
  std::function<void()> call;
};

TEST_F(DownloadToFile, NullControlDownloadsAndAnUnusedControlIsDestroyedAtOnce) {
  ASSERT_TRUE(server_.ServePattern("/plain.bin", 300000, 13));
  int progress = 0;
  EXPECT_EQ(DownLoadUrlToFile(nullptr, server_.Url("/plain.bin"), Path(L"plain.bin"), 60, 0, 0,
                              &progress),
            0);
  EXPECT_TRUE(ReadWholeFile(Path(L"plain.bin")) == PatternBytes(300000, 13));

  DownloadControl* unused = CreateDownloadControl();
  TimedCall destroy{[unused] { DestroyDownloadControl(unused); }};
  ASSERT_TRUE(destroy.Within(2000));
  // A download started with it afterwards returns at once.
  EXPECT_EQ(DownLoadUrlToFile(unused, server_.Url("/plain.bin"), Path(L"again.bin"), 60, 0, 0,
                              &progress),
            1223);
  EXPECT_EQ(progress, 100);
  EXPECT_EQ(Requests("/plain.bin").size(), 1u);
}

TEST_F(DownloadToFile, UncreatableFileGivesFiveAndDestroysAtOnce) {
  const DownloadOutcome o = RunDownload(server_.Url("/any.bin"), Path(L"no\\such\\dir\\file.bin"), 60);
  EXPECT_EQ(o.result, 5);
  EXPECT_EQ(o.progress, 100);
  EXPECT_LT(o.destroyMs, 100u);
  EXPECT_EQ(o.trace, L"0:dscfe;");
  EXPECT_TRUE(Requests("/any.bin").empty());
}

}  // namespace
