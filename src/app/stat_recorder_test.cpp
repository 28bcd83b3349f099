// The driver's statistics calls through the RunRecorder interface, from the
// first phase to the stop of the uploader: what reaches the server and in
// which order.
#include "app/stat_recorder.h"

#include <gtest/gtest.h>

#include "stat/stat_test_support.h"

namespace {

TEST(StatRecorder, RunReportsStartEndAndEveryPhaseToTheServer) {
  FakeEnvironment env;
  VirtualPlatform platform;
  ScriptedSender sender(platform);
  StatReporter reporter(platform, sender);
  CStat stat(env, reporter);
  StatRecorder recorder(stat, reporter);

  stat.Initialise(L"demo", L"77");
  ASSERT_TRUE(reporter.Start(CStat::kOperation, L"H", {L"stat.test", 80}));
  recorder.QueueStartRecord();
  recorder.QueueTrace(L"trsui", L"buisred");
  RecordPhase(recorder, 2, 0, 0);
  env.AdvanceMs(300);
  RecordPhase(recorder, 3, 2, 12029);
  recorder.QueueTrace(L"dcf", L"");
  RecordPhase(recorder, 6, 0, 0);
  RecordPhase(recorder, 7, 1, 0);
  recorder.SetConfigVersion(L"1.0.0.0");
  RecordPhase(recorder, 12, 0, 0);
  env.AdvanceMs(2000);
  RecordPhase(recorder, 13, 1, 1);
  RecordPhase(recorder, 16, 0, 0);
  env.AdvanceMs(5000);
  RecordPhase(recorder, 17, 1, 0);
  recorder.SetSetupVersion(L"9.8.7.6");
  recorder.Stamp(19, 12, 1);
  recorder.QueueRunningTrace();
  recorder.Stamp(999, recorder.LastResult(), recorder.LastExtReason());
  recorder.EndReport();
  recorder.QueueEndRecord();
  recorder.FlushNow();
  recorder.StopUploader();

  EXPECT_EQ(sender.Lines(),
            (std::vector<std::string>{
                "src=Start t_diff=0 ",
                "Cfgver=1.0.0.0 ExtReason=1 Result=12 Stat=999 Stpver=9.8.7.6 src=End "
                "t_diff=7300 t_dlc=300 t_dls=2000 t_dlsxml=0 t_ins=5000 ",
                "dcf= p_trc=2:0/3:300/6:300/7:300/12:300/13:2300/16:2300/17:7300/19:7300/"
                "999:7300 sthp=6:0:200:0:1/6:0:200:0:2 trsui=buisred "}));
}

}  // namespace
