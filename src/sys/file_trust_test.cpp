#include "sys/file_trust.h"

#include <gtest/gtest.h>

namespace {

TEST(FileTrust, SignerAcceptedOnlyWithOneOfTheThreeSpellings) {
  const struct {
    const wchar_t* name;
    bool accepted;
  } cases[] = {
      {L"Vexlo Test Software Ltd", true},
      {L"Beijing vexlo Network", true},
      {L"VEXLO INC", true},
      {L"xVexlox", true},
      {L"vExLo Software", false},
      {L"VeXLO", false},
      {L"Vexl o", false},
      {L"Northwind Tools Ltd", false},
      {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSignerAccepted(c.name), c.accepted) << c.name;
}

TEST(FileTrust, MemberTagIsUpperHexHighNibbleFirst) {
  const std::uint8_t hash[] = {0x00, 0x0F, 0xA5, 0xFF, 0x10};
  EXPECT_EQ(HashToMemberTag(hash, sizeof hash), L"000FA5FF10");
  EXPECT_EQ(HashToMemberTag(hash, 0), L"");
}

}  // namespace
