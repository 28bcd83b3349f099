// The run record over the real system: this test program's own VERSIONINFO,
// CoCreateGuid, the local clock, GetVersionExW, the machine identifier and
// the software fingerprint.
#include "stat/stat_environment_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "stat/cstat.h"
#include "stat/stat_test_support.h"
#include "stat/stat_text.h"

namespace {

TEST(Win32StatEnvironment, VersionComesFromTheModuleVersionResourceInOrder) {
  Win32StatEnvironment env;
  std::uint16_t parts[4] = {};
  ASSERT_TRUE(env.ReadFileVersion(parts));
  EXPECT_EQ(FormatVersion(parts), L"3.14.15.9265");
}

TEST(Win32StatEnvironment, HeaderLineOfARealInitialisation) {
  Win32StatEnvironment env;
  RecordingSink sink;
  CStat stat(env, sink);
  SYSTEMTIME before;
  GetLocalTime(&before);
  stat.Initialise(L"demo", L"123");
  const std::string header = WideToUtf8(stat.HeaderLine());

  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      header, m,
      std::regex("Op=Functionwebinst Type=vxdowninstall2 Version=3\\.14\\.15\\.9265 "
                 "Sid=([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{16}) From=demo "
                 "Mode=Clickonce PcCode=C_\\S+-D_\\S+-M_\\S+-V_\\S+ Uinf=\\d+-\\d+ Time=(\\d{4})_(\\d\\d)_(\\d\\d)_\\d\\d_\\d\\d_\\d\\d "
                 "Rnd=123 Osv=(\\d+) Osvi=(\\d+)")))
      << header;
  EXPECT_EQ(std::stoi(m[2]), before.wYear);
  EXPECT_EQ(std::stoi(m[3]), before.wMonth);

  const OsVersionData os = env.QueryOsVersion();
  ASSERT_TRUE(os.queried);
  EXPECT_EQ(std::stoi(m[5]), OsCodeFor(os));
  EXPECT_EQ(std::stoul(m[6]), os.build);
  EXPECT_NE(os.build, 0u);

  CStat second(env, sink);
  second.Initialise(L"", L"");
  EXPECT_NE(second.runId(), stat.runId());
}

}  // namespace
