// The run record over a scripted clock and identity: header and end lines,
// phase timers, running text and the records it builds.
#include "stat/cstat.h"

#include <gtest/gtest.h>

#include "stat/stat_test_support.h"

namespace {

class CStatTest : public ::testing::Test {
 protected:
  CStatTest() : stat(env, sink) {
    env.guid.data1 = 0x0123ABCD;
    env.guid.data2 = 0x4567;
    env.guid.data3 = 0x89EF;
    const std::uint8_t tail[8] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x0A};
    for (int i = 0; i < 8; ++i) env.guid.data4[i] = tail[i];
    env.os.queried = true;
    env.os.platformId = kOsPlatformNt;
    env.os.major = 6;
    env.os.minor = 1;
    env.os.productType = kOsProductWorkstation;
    env.os.build = 7601;
  }

  FakeEnvironment env;
  RecordingSink sink;
  CStat stat;
};

TEST_F(CStatTest, HeaderLineReportsEveryKeyEvenWhenChannelAndTagAreEmpty) {
  stat.Initialise(L"", L"");
  EXPECT_EQ(stat.HeaderLine(),
            L"Op=Functionwebinst Type=vxdowninstall2 Version=1.0.0.1 "
            L"Sid=0123ABCD-4567-89EF-001122334455660A From= Mode=Clickonce PcCode= Uinf= "
            L"Time=2013_05_06_07_08_09 Rnd= Osv=130 Osvi=7601");
  EXPECT_EQ(stat.step(), 1);
}

TEST_F(CStatTest, HeaderLineCarriesChannelTagIdentityAndVersion) {
  env.version[0] = 3;
  env.version[1] = 14;
  env.version[2] = 15;
  env.version[3] = 9265;
  env.machineId = L"M1";
  env.fingerprint = L"U2";
  env.os = OsVersionData();  // the query failed
  stat.Initialise(L"\x6E20\x9053", L"1234567890");
  EXPECT_EQ(stat.HeaderLine(),
            L"Op=Functionwebinst Type=vxdowninstall2 Version=3.14.15.9265 "
            L"Sid=0123ABCD-4567-89EF-001122334455660A From=\x6E20\x9053 Mode=Clickonce "
            L"PcCode=M1 Uinf=U2 Time=2013_05_06_07_08_09 Rnd=1234567890 Osv=0 Osvi=0");
}

// A channel or tag from outside cannot add fields or lines to the header.
TEST_F(CStatTest, HeaderLineEncodesChannelAndTag) {
  const struct {
    const wchar_t* channel;
    const wchar_t* tag;
    const wchar_t* fields;
  } cases[] = {
      {L"abc PcCode=forged", L"1", L"From=abc%20PcCode%3Dforged Mode=Clickonce PcCode= Uinf= "
                                   L"Time=2013_05_06_07_08_09 Rnd=1 "},
      {L"a\r\nOp=x", L"50%", L"From=a%0D%0AOp%3Dx Mode=Clickonce PcCode= Uinf= "
                              L"Time=2013_05_06_07_08_09 Rnd=50%25 "},
      {L"\x6E20-_.~/", L"%20", L"From=\x6E20-_.~/ Mode=Clickonce PcCode= Uinf= "
                               L"Time=2013_05_06_07_08_09 Rnd=%2520 "},
  };
  for (const auto& c : cases) {
    stat.Initialise(c.channel, c.tag);
    const std::wstring header = stat.HeaderLine();
    EXPECT_NE(header.find(c.fields), std::wstring::npos) << std::string(header.begin(), header.end());
  }
}

TEST_F(CStatTest, PhaseTimersMeasureFromStartStepToEndStep) {
  stat.Initialise(L"c", L"r");
  stat.Stamp(2, 0, 0);
  env.AdvanceMs(1500);
  stat.Stamp(3, 1, 0);
  env.AdvanceMs(100);
  stat.Stamp(12, 0, 0);
  env.AdvanceMs(42000);
  stat.Stamp(13, 6, 12002);
  // A phase that ends without having started stays 0.
  stat.Stamp(17, 8, 2);
  EXPECT_EQ(stat.PhaseDuration(CStat::kPhaseConfig), 1500);
  EXPECT_EQ(stat.PhaseDuration(CStat::kPhaseAttachment), 0);
  EXPECT_EQ(stat.PhaseDuration(CStat::kPhaseSetupDownload), 42000);
  EXPECT_EQ(stat.PhaseDuration(CStat::kPhaseInstall), 0);
  EXPECT_EQ(stat.step(), 17);
  EXPECT_EQ(stat.result(), 8);
  EXPECT_EQ(stat.extReason(), 2);
}

TEST_F(CStatTest, RunningTextAndReportRunning) {
  stat.Initialise(L"c", L"r");
  stat.Stamp(12, 0, 0);
  env.AdvanceMs(65000);
  stat.Stamp(13, 1, 0);
  EXPECT_EQ(stat.RunningText(), L"13:65000");
  stat.LogReportRunning();
  stat.ReportRunning();
  ASSERT_EQ(sink.records.size(), 2u);
  for (const StatRecord& record : sink.records) {
    EXPECT_EQ(record.kind, kStatKindTrace);
    EXPECT_EQ(record.values, (StatMap{{L"p_trc", L"13:65000"}}));
  }
}

TEST_F(CStatTest, EndLineAndEndRecord) {
  stat.Initialise(L"c", L"r");
  stat.SetConfigVersion(L"2.0.1.7");
  stat.Stamp(2, 0, 0);
  env.AdvanceMs(250);
  stat.Stamp(3, 2, 12029);
  env.AdvanceMs(750);
  stat.Stamp(999, 2, 12029);
  EXPECT_EQ(stat.EndLine(),
            L"t_diff=1000 Stat=999 Result=2 ExtReason=12029 t_dlc=250 t_dlsxml=0 t_dls=0 "
            L"t_ins=0 Cfgver=2.0.1.7 Stpver=");
  const StatRecord end = stat.EndRecord();
  EXPECT_EQ(end.kind, kStatKindOneShot);
  EXPECT_EQ(end.values, (StatMap{{L"src", L"End"},
                                 {L"t_diff", L"1000"},
                                 {L"Stat", L"999"},
                                 {L"Result", L"2"},
                                 {L"ExtReason", L"12029"},
                                 {L"t_dlc", L"250"},
                                 {L"t_dlsxml", L"0"},
                                 {L"t_dls", L"0"},
                                 {L"t_ins", L"0"},
                                 {L"Cfgver", L"2.0.1.7"},
                                 {L"Stpver", L""}}));
  const StatRecord start = stat.StartRecord();
  EXPECT_EQ(start.kind, kStatKindOneShot);
  EXPECT_EQ(start.values, (StatMap{{L"src", L"Start"}, {L"t_diff", L"0"}}));
}

TEST(CStatFormat, DurationsKeepTheLow32BitsAndTheirSign) {
  LocalTime from;
  LocalTime to;
  from.fileTime = 1000;
  to.fileTime = 1000 + 10000ULL * 0x100000005ULL;
  EXPECT_EQ(MillisecondsBetween(from, to), 5);
  EXPECT_EQ(MillisecondsBetween(to, from), -5);
}

}  // namespace
