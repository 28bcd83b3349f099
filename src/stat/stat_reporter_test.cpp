// The report queue's worker on virtual time against a scripted server:
// retries and pauses, periodic and flush-now sends, the final sends and
// their time bound, the pending limit and the worker-less queue.
#include "stat/stat_reporter.h"

#include <gtest/gtest.h>

#include "stat/stat_test_support.h"

namespace {

// "stage:0:status:failures:attempts" for attempts 1..count, each one failed.
std::string FailedOutcomes(int stage, int status, int count) {
  std::string text;
  for (int a = 1; a <= count; ++a) {
    if (!text.empty()) text += "/";
    text += std::to_string(stage) + ":0:" + std::to_string(status) + ":" + std::to_string(a) +
            ":" + std::to_string(a);
  }
  return text;
}

class StatReporterTest : public ::testing::Test {
 protected:
  StatReporterTest() : sender(platform), reporter(platform, sender) {}

  bool Start() { return reporter.Start(L"Functionwebinst", L"H", {L"stat.test", 80}); }

  std::size_t CountLines(const std::string& line) {
    std::size_t n = 0;
    for (const std::string& l : sender.Lines()) n += l == line ? 1 : 0;
    return n;
  }

  VirtualPlatform platform;
  ScriptedSender sender;
  StatReporter reporter;
};

TEST_F(StatReporterTest, RejectedOneShotRecordIsTriedTenTimesAndEveryOutcomeReachesTheMap) {
  ASSERT_TRUE(Start());
  sender.Answer(500);
  platform.onIdle = [&](int idle) {
    if (idle == 1) reporter.Enqueue(OneShotRecord(L"Start"));
    if (idle == 3) {
      sender.Answer(200);
      reporter.Stop();
    }
  };
  platform.RunWorker();

  const std::vector<std::string> lines = sender.Lines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(CountLines("src=Start "), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sender.attempts[i].timeoutMs, 60000u);
  EXPECT_EQ(sender.attempts[10].timeoutMs, 10000u);  // after Stop: cut to the bound
  // A 1 s pause follows each of the ten failed attempts, the tenth included.
  EXPECT_EQ(platform.pauses, std::vector<std::uint32_t>(10, 1000));
  EXPECT_EQ(platform.joinTimeouts, std::vector<std::uint32_t>{15000});
  EXPECT_EQ(lines.back(), "sthp=" + FailedOutcomes(5, 500, 10) + " ");
  EXPECT_EQ(reporter.attempts(), 11);
  EXPECT_EQ(reporter.failures(), 10);
}

TEST_F(StatReporterTest, PeriodicAndFlushNowSendsAreSingleAttempts) {
  platform.unixBase = 1700000000;  // the last send time starts at 0
  sender.mode = ScriptedSender::Mode::kRefuse;
  ASSERT_TRUE(Start());
  platform.onIdle = [&](int idle) {
    if (idle == 150) {
      reporter.FlushNow();
      reporter.FlushNow();  // one flag: one send
    }
    if (idle == 300) platform.failWait = true;  // end the worker without final sends
  };
  platform.RunWorker();

  // The first idle second sends (nothing was sent yet), then every time more
  // than 120 s passed since the last send; flush-now sends at once and
  // restarts that count.
  std::vector<std::uint32_t> ticks;
  for (const ScriptedSender::Attempt& a : sender.attempts) ticks.push_back(a.tick);
  EXPECT_EQ(ticks, (std::vector<std::uint32_t>{1000, 122000, 150000, 271000}));
  EXPECT_TRUE(platform.pauses.empty());
  EXPECT_EQ(reporter.failures(), 4);
  // The outcome of each refused attempt is folded in before the next send.
  ASSERT_EQ(sender.attempts.size(), 4u);
  EXPECT_EQ(sender.Lines()[3], "sthp=4:12029:0:1:1/4:12029:0:2:2/4:12029:0:3:3 ");
}

TEST_F(StatReporterTest, AnsweringServerGetsEveryRecordInOrderAndAFinalMapOfAllTraces) {
  ASSERT_TRUE(Start());
  reporter.Enqueue(OneShotRecord(L"Start"));
  reporter.Enqueue(MakeTrace(L"p_trc", L"2:10"));
  reporter.Enqueue(MakeTrace(L"trsui", L"imd"));
  reporter.Enqueue(OneShotRecord(L"\x6E20\x9053"));
  reporter.Enqueue(MakeTrace(L"p_trc", L"3:20"));
  reporter.Enqueue(MakeTrace(L"trsui", L"awm"));
  reporter.Enqueue(OneShotRecord(L"End"));
  EXPECT_TRUE(reporter.Stop());

  EXPECT_EQ(sender.Lines(), (std::vector<std::string>{
                                "src=Start ", "src=\xE6\xB8\xA0\xE9\x81\x93 ", "src=End ",
                                "p_trc=2:10/3:20 sthp=6:0:200:0:1/6:0:200:0:2/6:0:200:0:3 "
                                "trsui=imd/awm "}));
  EXPECT_TRUE(platform.pauses.empty());
  EXPECT_EQ(reporter.PendingCount(), 1u);  // the last send's own outcome
}

TEST_F(StatReporterTest, FinalSendsAgainstASilentServerEndWithinTheBound) {
  sender.mode = ScriptedSender::Mode::kHang;
  ASSERT_TRUE(Start());
  reporter.Enqueue(OneShotRecord(L"End"));
  const std::uint32_t stopTick = platform.tick;
  EXPECT_TRUE(reporter.Stop());

  // The one attempt's time-outs were cut to the bound; nothing was tried after it.
  ASSERT_EQ(sender.attempts.size(), 1u);
  EXPECT_EQ(sender.attempts[0].timeoutMs, 10000u);
  EXPECT_LE(platform.tick - stopTick, 10000u);
}

TEST_F(StatReporterTest, FinalSendsAgainstARejectingServerStopStartingAttemptsAtTheBound) {
  sender.Answer(500);
  ASSERT_TRUE(Start());
  reporter.Enqueue(OneShotRecord(L"Start"));
  reporter.Enqueue(OneShotRecord(L"End"));
  const std::uint32_t stopTick = platform.tick;
  EXPECT_TRUE(reporter.Stop());

  // Ten attempts at 1 s intervals fill the bound; the End record and the
  // map are given up.
  EXPECT_EQ(CountLines("src=Start "), 10u);
  EXPECT_EQ(CountLines("src=End "), 0u);
  for (const ScriptedSender::Attempt& a : sender.attempts) {
    const std::uint32_t left = 10000 - (a.tick - stopTick);
    EXPECT_LT(a.tick - stopTick, 10000u);
    EXPECT_LE(a.timeoutMs, left);
  }
  EXPECT_LE(platform.tick - stopTick, 10000u);
}

TEST_F(StatReporterTest, TracesAreDroppedBeyondTheLimitButOneShotRecordsAreNot) {
  for (std::size_t i = 0; i < StatReporter::kPendingLimit; ++i) reporter.Enqueue(OneShotRecord(L"x"));
  reporter.Enqueue(MakeTrace(L"p_trc", L"1:0"));  // 10,000 pending: still queued
  EXPECT_EQ(reporter.PendingCount(), 10001u);
  reporter.Enqueue(MakeTrace(L"p_trc", L"2:0"));  // 10,001 pending: dropped
  EXPECT_EQ(reporter.PendingCount(), 10001u);
  reporter.Enqueue(OneShotRecord(L"End"));
  EXPECT_EQ(reporter.PendingCount(), 10002u);
  EXPECT_EQ(platform.signals, 10002);
}

TEST_F(StatReporterTest, EmptyHeaderOrTypeStartsNoWorkerAndStopReturnsAtOnce) {
  EXPECT_FALSE(reporter.Start(L"Functionwebinst", L"", {L"stat.test", 80}));
  EXPECT_FALSE(reporter.Start(L"", L"H", {L"stat.test", 80}));
  EXPECT_FALSE(platform.started);
  reporter.Enqueue(OneShotRecord(L"Start"));
  reporter.FlushNow();
  EXPECT_TRUE(reporter.Stop());
  EXPECT_TRUE(platform.joinTimeouts.empty());
  EXPECT_TRUE(sender.attempts.empty());
  EXPECT_EQ(reporter.PendingCount(), 1u);
}

}  // namespace
