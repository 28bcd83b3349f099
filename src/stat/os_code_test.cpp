// The OS code table over injected version records (the real query is only
// available on Windows, and Wine reports a single version).
#include "stat/os_code.h"

#include <gtest/gtest.h>

namespace {

OsVersionData Nt(unsigned major, unsigned minor, unsigned sp, bool workstation,
                 unsigned build = 0) {
  OsVersionData v;
  v.queried = true;
  v.platformId = kOsPlatformNt;
  v.major = major;
  v.minor = minor;
  v.servicePackMajor = static_cast<std::uint16_t>(sp);
  v.productType = workstation ? kOsProductWorkstation : 3;
  v.build = build;
  return v;
}

TEST(OsCode, ListedVersions) {
  EXPECT_EQ(OsCodeFor(Nt(6, 1, 1, true)), 130);   // Windows 7
  EXPECT_EQ(OsCodeFor(Nt(6, 1, 0, false)), 123);  // Server 2008 R2
  EXPECT_EQ(OsCodeFor(Nt(6, 0, 1, true)), 111);   // Vista SP1
  EXPECT_EQ(OsCodeFor(Nt(6, 0, 2, false)), 122);  // Server 2008 SP2
  EXPECT_EQ(OsCodeFor(Nt(5, 1, 3, true)), 103);   // XP SP3
  EXPECT_EQ(OsCodeFor(Nt(5, 1, 0, false)), 100);  // XP, any product type
  EXPECT_EQ(OsCodeFor(Nt(5, 2, 2, false)), 106);  // Server 2003 SP2
}

TEST(OsCode, UnlistedVersionsAndFailuresGiveZero) {
  EXPECT_EQ(OsCodeFor(Nt(6, 2, 0, true)), 0);  // Windows 8
  EXPECT_EQ(OsCodeFor(Nt(6, 3, 0, true)), 0);
  EXPECT_EQ(OsCodeFor(Nt(10, 0, 0, true)), 0);
  EXPECT_EQ(OsCodeFor(Nt(5, 2, 2, true)), 0);   // 5.2 workstation (XP x64)
  EXPECT_EQ(OsCodeFor(Nt(5, 1, 4, true)), 0);   // service pack beyond the table
  EXPECT_EQ(OsCodeFor(Nt(6, 0, 3, true)), 0);
  EXPECT_EQ(OsCodeFor(Nt(5, 0, 4, true)), 0);   // Windows 2000
  EXPECT_EQ(OsCodeFor(Nt(4, 0, 6, true)), 0);
  OsVersionData nine = Nt(5, 1, 0, true);
  nine.platformId = 1;  // not NT
  EXPECT_EQ(OsCodeFor(nine), 0);
  OsVersionData failed;  // the query failed
  failed.build = 7601;
  EXPECT_EQ(OsCodeFor(failed), 0);
  EXPECT_EQ(OsBuildFor(failed), 0u);
  EXPECT_EQ(OsBuildFor(Nt(6, 1, 1, true, 7601)), 7601u);
}

}  // namespace
