// Report texts: the map format and folding, UTF-8 conversion, the outcome
// trace, and the multipart form against a golden copy.
#include "stat/stat_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

std::string ReadTestFile(const char* name) {
#ifdef _WIN32
  const std::string path = std::string("Z:") + ZETORA_STAT_TESTDATA + "/" + name;
#else
  const std::string path = std::string(ZETORA_STAT_TESTDATA) + "/" + name;
#endif
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(StatMap, TracesFoldPerKeyInArrivalOrderAndFormatWithATrailingSpace) {
  StatMap accumulated;
  MergeTrace(&accumulated, {{L"trsui", L"imd"}});
  MergeTrace(&accumulated, {{L"p_trc", L"4:1200"}});
  MergeTrace(&accumulated, {{L"trsui", L"awm"}});
  MergeTrace(&accumulated, {{L"p_trc", L"5:1500"}});
  EXPECT_EQ(FormatStatMap(accumulated), L"p_trc=4:1200/5:1500 trsui=imd/awm ");
}

TEST(StatMap, AnEmptyValueIsFilledByTheNextOne) {
  StatMap accumulated;
  MergeTrace(&accumulated, {{L"dcf", L""}});
  MergeTrace(&accumulated, {{L"dcf", L"12029"}});
  MergeTrace(&accumulated, {{L"dcf", L""}});
  EXPECT_EQ(FormatStatMap(accumulated), L"dcf=12029/ ");
  EXPECT_EQ(FormatStatMap(StatMap()), L"");
}

TEST(Utf8, ConvertsChineseAstralAndUnpairedSurrogates) {
  EXPECT_EQ(WideToUtf8(L"a=\x6E20\x9053"), "a=\xE6\xB8\xA0\xE9\x81\x93");
  EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
  std::wstring lone = L"x";
  lone.push_back(static_cast<wchar_t>(0xD800));
  lone += L"y";
  EXPECT_EQ(WideToUtf8(lone), "x\xEF\xBF\xBDy");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(Outcome, FiveNumbersJoinedByColons) {
  EXPECT_EQ(FormatOutcome(5, 0, 500, 3, 10), L"5:0:500:3:10");
  EXPECT_EQ(FormatOutcome(4, 12029, 0, 1, 1), L"4:12029:0:1:1");
}

TEST(MultipartForm, MatchesTheGoldenCopyByteForByte) {
  const std::string header =
      "Op=Functionwebinst Type=vxdowninstall2 Version=1.0.0.1 "
      "Sid=0123ABCD-4567-89EF-0011223344556677 From=\xE6\xB8\xA0\xE9\x81\x93 Mode=Clickonce "
      "PcCode= Uinf= Time=2013_05_06_07_08_09 Rnd=42 Osv=130 Osvi=7601";
  const std::string body =
      BuildReportBody(header, "src=End t_diff=65000 Stat=999 Cfgver=1.2.3.4 ");
  ASSERT_EQ(body.size(), 233u);
  const std::string golden = ReadTestFile("report_form.golden");
  ASSERT_FALSE(golden.empty()) << "golden file missing";
  EXPECT_EQ(BuildMultipartForm("Functionwebinst", body), golden);
}

}  // namespace
