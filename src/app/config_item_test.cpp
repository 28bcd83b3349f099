#include "app/config_item.h"

#include <gtest/gtest.h>

#include "app/install_mode.h"

namespace {

TEST(ConfigUrl, ChannelIsInsertedBeforeXml) {
  const std::wstring base = ServerBaseUrl(L"cfg.example", 80);
  EXPECT_EQ(base, L"http://cfg.example");
  EXPECT_EQ(BuildConfigUrl(base, L"abc"), L"http://cfg.example/oi/config/config_abc.xml");
  EXPECT_EQ(BuildConfigUrl(base, L""), L"http://cfg.example/oi/config/config_.xml");
  EXPECT_EQ(BuildConfigUrl(ServerBaseUrl(L"127.0.0.1", 18080), L"x"),
            L"http://127.0.0.1:18080/oi/config/config_x.xml");
}

TEST(FallbackItem, DerivedFromChannel) {
  const ConfigItem item = MakeFallbackItem(L"http://dl.example", L"abc");
  EXPECT_EQ(item.name, L"abc");
  EXPECT_EQ(item.version, L"");
  EXPECT_EQ(item.tnusage, L"enabled");
  EXPECT_EQ(item.desc, L"zetora\x6D4F\x89C8\x5668\x4E0B\x8F7D\x5668");
  EXPECT_EQ(item.url, L"http://dl.example/union/getvxbrowser.php?tn=abc");
  EXPECT_EQ(item.attachment, L"http://dl.example/oi/config/tnconfig_abc.xml");
  EXPECT_EQ(item.installcmd, L"-AutoStart /S -TnConfig=\"tnconfig_abc.xml\"");
  EXPECT_EQ(item.crc, 0);
}

TEST(VersionWellFormed, ExactlyFourDecimalParts) {
  EXPECT_TRUE(IsVersionWellFormed(L"1.0.0.5"));
  EXPECT_TRUE(IsVersionWellFormed(L"10.20.30.40"));
  EXPECT_FALSE(IsVersionWellFormed(L""));
  EXPECT_FALSE(IsVersionWellFormed(L"1.0"));
  EXPECT_FALSE(IsVersionWellFormed(L"1.0.0"));
  EXPECT_FALSE(IsVersionWellFormed(L"1.0.0.5.6"));
  EXPECT_FALSE(IsVersionWellFormed(L"1..0.5"));
  EXPECT_FALSE(IsVersionWellFormed(L"1.0.0."));
  EXPECT_FALSE(IsVersionWellFormed(L"1.0a.0.5"));
}

}  // namespace
