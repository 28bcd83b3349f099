#include "app/channel_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/mars.h"

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

const std::uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

// Known answers of IBM's MARS submission (its ecb_tbl.txt, as collected in
// the Crypto++ test vectors, TestVectors/mars.txt): 128, 192 and 256-bit keys.
TEST(Mars, KnownAnswersBothDirections) {
  struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Vector vectors[] = {
      {"80000000000000000000000000000000", "00000000000000000000000000000000",
       "B3E2AD5608AC1B6733A7CB4FDF8F9952"},
      {"CB14A1776ABBC1CDAFE7243DEF2CEA02", "F94512A9B42D034EC4792204D708A69B",
       "225DA2CB64B73F79069F21A5E3CB8522"},
      {"000000000000000000000000000000000000000000000000", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
       "97778747D60E425C2B4202599DB856FB"},
      {"791739A58B04581A93A953A82C10411DD158860838874D95", "6761C42D3E6142D2A84FBFADB383158F",
       "F706BC0FD97E28B6F1AF4E17D8755FFF"},
      {"FBA167983E7AEF22317CE28C02AAE1A3E8E5CC3CEDBEA82A99DBC39AD65E7227",
       "1344ABA4D3C44708A8A72116D4F49384", "458335D95EA42A9F4DCCD41AECC2390D"},
  };
  for (const Vector& v : vectors) {
    const std::string key = FromHex(v.key), plain = FromHex(v.plain), cipher = FromHex(v.cipher);
    mars m;
    ASSERT_TRUE(m.set_key(Bytes(key), key.size() * 8)) << v.key;
    std::uint8_t out[16];
    ASSERT_TRUE(m.encrypt(Bytes(plain), out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 16), cipher) << v.key;
    ASSERT_TRUE(m.decrypt(Bytes(cipher), out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 16), plain) << v.key;
  }
}

TEST(Mars, KeyLengthsOutsideTheRangeLeaveTheKeyUnset) {
  const std::uint8_t key[64] = {};
  for (std::size_t bits : {0, 96, 120, 136, 460, 480, 512}) {
    mars m;
    m.set_key(key, 128);  // a valid key first: a refused length must unset it
    EXPECT_FALSE(m.set_key(key, bits)) << bits;
    std::uint8_t block[16] = {};
    EXPECT_FALSE(m.encrypt(block, block)) << bits;
    EXPECT_FALSE(m.decrypt(block, block)) << bits;
  }
  for (std::size_t bits = 128; bits <= 448; bits += 32) EXPECT_TRUE(mars().set_key(key, bits));
}

TEST(ConfigKey, NineteenCharactersAndAZeroByteRoundTrip) {
  const ConfigKey key = MakeConfigKey("5E2C9A71-0B4D-4F38-A6E1-93D07C2B8F45");
  EXPECT_EQ(std::string(key.begin(), key.end() - 1), "5E2C9A71-0B4D-4F38-");
  EXPECT_EQ(key[19], 0);

  std::string data = "0123456789abcdefFEDCBA9876543210tail";  // 2 blocks + 4 bytes
  const std::string original = data;
  ASSERT_TRUE(EncryptConfigBlocks(key, &data));
  EXPECT_NE(data.substr(0, 32), original.substr(0, 32));
  EXPECT_EQ(data.substr(32), "tail");  // an incomplete block stays as it is
  ASSERT_TRUE(DecryptConfigBlocks(key, &data));
  EXPECT_EQ(data, original);
  EXPECT_FALSE(DecryptConfigBlocks(ConfigKey(18, 0), &data));
}

class ConfigFile : public ::testing::Test {
 protected:
  ConfigFile()
      : path_(std::filesystem::temp_directory_path() /
              ("zetora_config_test_" + std::to_string(std::random_device()()))) {}
  ~ConfigFile() override { std::filesystem::remove(path_); }

  void WriteRaw(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  void WriteEncrypted(std::string document) {
    EncryptConfigBlocks(key_, &document);
    WriteRaw(document);
  }
  // Reads the file; returns the pcfg codes joined with "/".
  std::wstring Read(const std::wstring& path) {
    std::wstring codes;
    result_ = ReadChannelConfig(path, key_, &picpack_, &items_, [&codes](const wchar_t* code) {
      codes += codes.empty() ? L"" : L"/";
      codes += code;
    });
    return codes;
  }
  std::wstring Read() { return Read(path_.wstring()); }

  std::filesystem::path path_;
  ConfigKey key_ = MakeConfigKey("5E2C9A71-0B4D-4F38-A6E1-93D07C2B8F45");
  std::wstring picpack_;
  ConfigItemList items_{ConfigItem()};
  bool result_ = false;
};

TEST_F(ConfigFile, CodesOfUnreadableAndUnusableFiles) {
  EXPECT_EQ(Read(L""), L"ef");
  EXPECT_FALSE(result_);
  EXPECT_EQ(Read(), L"egfl");  // not written yet
  EXPECT_FALSE(result_);

  WriteRaw("");
  EXPECT_EQ(Read(), L"cdb/dp/nopicpack/efdn");
  EXPECT_FALSE(result_);
  EXPECT_TRUE(items_.empty());

  std::mt19937 random(7);
  std::string noise(333, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  WriteRaw(noise);
  EXPECT_EQ(Read(), L"cdb/dp/nopicpack/efdn");  // undecryptable

  WriteEncrypted("<?xml version=\"1.0\"?><other/>\n");
  EXPECT_EQ(Read(), L"cdb/dp/nopicpack/efdn");

  // A downloadlist without items is read, but yields nothing.
  WriteEncrypted("<downloadlist></downloadlist>");
  EXPECT_EQ(Read(), L"cdb/dp/nopicpack");
  EXPECT_TRUE(result_);
  EXPECT_TRUE(items_.empty());
}

TEST_F(ConfigFile, OversizedFileIsRefusedWithoutReadingIt) {
  WriteRaw("x");
  std::filesystem::resize_file(path_, kMaxConfigFileSize + 1);
  EXPECT_EQ(Read(), L"eam");
  EXPECT_FALSE(result_);
}

TEST_F(ConfigFile, ItemsInDocumentOrderWithTheirFieldRules) {
  // 7 bytes past the last whole block stay unencrypted and are read as such.
  std::string document =
      "<picpack zipurl=\"http://p/x.zip\"/>"
      "<downloadlist>"
      "<item name=\"a&quot;b/c:d\" desc=\" \t inner text\r\n\" version=\"1.2.3.4\" tnusage=\"enabled\""
      " url=\"http://dl/p.exe\" attachment=\"http://dl/a.xml\" installcmd=\"/S -x\" crc=\"abc\"/>"
      "<item name=\"\xE6\xB5\x8F\xE8\xA7\x88\" crc=\"42\"/>"
      "</downloadlist>";
  while (document.size() % 16 != 7) document += "\n";
  WriteEncrypted(document);
  EXPECT_EQ(Read(), L"cdb/dp/picpack/g_n/g_d/g_v/g_t/g_u/g_a/g_i/g_c/g_n/g_c");
  ASSERT_TRUE(result_);
  EXPECT_EQ(picpack_, L"http://p/x.zip");
  ASSERT_EQ(items_.size(), 2u);
  EXPECT_EQ(items_[0].name, L"abcd");
  EXPECT_EQ(items_[0].desc, L"inner text");
  EXPECT_EQ(items_[0].version, L"1.2.3.4");
  EXPECT_EQ(items_[0].url, L"http://dl/p.exe");
  EXPECT_EQ(items_[0].attachment, L"http://dl/a.xml");
  EXPECT_EQ(items_[0].installcmd, L"/S -x");
  EXPECT_EQ(items_[0].crc, 0);
  EXPECT_EQ(items_[1].name, L"\x6D4F\x89C8");
  EXPECT_EQ(items_[1].url, L"");
  EXPECT_EQ(items_[1].crc, 42);
}

// A multi-byte lead byte right before the end of the text made the parser
// read past the buffer (found by the fuzz target).
TEST_F(ConfigFile, TruncatedMultiByteCharacterStaysInsideTheBuffer) {
  for (const std::string& tail : {std::string("\xF3"), std::string("\xF3\0\xF3xx")}) {
    std::string document = "<downloadlist><item name=\"x\">t" + tail;
    WriteEncrypted(document);
    Read();
    EXPECT_TRUE(result_);
  }
}

TEST(ConfigText, PathCharactersBlanksAndEncodings) {
  EXPECT_EQ(StripPathChars(L"\"a\\b/c<d>e?f*g:h|i"), L"abcdefghi");
  EXPECT_EQ(StripPathChars(L"..\\..\\x"), L"....x");
  EXPECT_EQ(TrimBlanks(L" \t\r\nx y\r\n"), L"x y");
  EXPECT_EQ(TrimBlanks(L" \t "), L"");
  EXPECT_EQ(PercentEncodeUtf8(L"abc-1_x.~Z"), L"abc-1_x.~Z");
  EXPECT_EQ(PercentEncodeUtf8(L"..\\a b&\x6D4F"), L"..%5Ca%20b%26%E6%B5%8F");
  // Broken UTF-8 gives replacement characters, never a read past the end.
  EXPECT_EQ(Utf8ToWide("a\xE6\xB5"), L"a\xFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAFz"), L"\xFFFDz");  // overlong form
}

TEST(FallbackItem, HostileChannelStaysInsideTheInstallerDirectory) {
  const ConfigItem item = MakeFallbackItem(L"http://dl", L"..\\..\\x");
  EXPECT_EQ(item.name, L"....x");
  EXPECT_EQ(item.url, L"http://dl/union/getvxbrowser.php?tn=..%5C..%5Cx");
  EXPECT_EQ(item.attachment, L"http://dl/oi/config/tnconfig_..%5C..%5Cx.xml");
  EXPECT_EQ(item.installcmd, L"-AutoStart /S -TnConfig=\"tnconfig_....x.xml\"");
  EXPECT_EQ(BuildConfigUrl(L"http://dl", L"\x6E20\x9053"),
            L"http://dl/oi/config/config_%E6%B8%A0%E9%81%93.xml");
}

}  // namespace
