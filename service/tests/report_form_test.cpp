// The upload form and report parser against the installer's golden form and
// the variations a real client may produce; truncated and malformed forms
// are refused.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "report_builder.h"
#include "report_form.h"

namespace zstats {
namespace {

std::string Golden() {
  std::ifstream in(ZSTATS_GOLDEN_FORM, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  size_t at = s.find(from);
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  return s;
}

// The form with bare LF line ends everywhere but in the report body.
std::string BareLineEnds(const std::string& form) {
  size_t body = form.find("Op=Functionwebinst"), end = form.find("\r\n", body) + 2;
  return ReplaceAll(form.substr(0, body), "\r\n", "\n") + form.substr(body, end - body) +
         ReplaceAll(form.substr(end), "\r\n", "\n");
}

// Moves the product_name part behind the security_level part.
std::string ReorderParts(const std::string& form) {
  const std::string d = "----MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG\r\n";
  size_t first = form.find(d), second = form.find(d, first + 1), fifth = form.find(d + "Content-Disposition: form-data; name=\"raw_file_size\"");
  std::string product = form.substr(first, second - first);
  return form.substr(second, fifth - second) + product + form.substr(fifth);
}

const std::string kType = kFormContentType;

TEST(ReportFormTest, AcceptsTheInstallersFormAndWhatClientsVary) {
  const std::string golden = Golden();
  ASSERT_FALSE(golden.empty());
  struct Case {
    const char* what;
    std::string content_type, form;
  } cases[] = {
      {"golden form", kType, golden},
      {"boundary in upper case in the header", Replace(kType, "BOUNDARY-REPORTLOG", "boundary-reportlog"), golden},
      {"boundary in lower case in the form", kType, ReplaceAll(golden, "MULTI-PARTS", "multi-parts")},
      {"quoted boundary, upper-case type", "Multipart/Form-Data; boundary=\"--MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG\"", golden},
      {"no line end after the closing delimiter", kType, golden.substr(0, golden.size() - 2)},
      {"CRLF after raw_file_size", kType, Replace(golden, "233\n", "233\r\n")},
      {"bare LF line ends outside the report", kType, BareLineEnds(golden)},
      {"parts in another order", kType, ReorderParts(golden)},
      {"part headers in another order", kType,
       Replace(golden, "Content-Disposition: form-data; name=\"userfile\"; filename=\"data.dat\";\r\nContent-Type: application/x-gzip\r\n",
               "Content-Type: application/x-gzip\r\ncontent-disposition: form-data; filename=\"data.dat\"; name=userfile\r\n")},
      {"no raw_file_size part", kType, Replace(golden, "name=\"raw_file_size\";\r\n\r\n233\n", "name=\"other\";\r\n\r\nx\n")},
      {"epilogue after the closing delimiter", kType, golden + "\r\n"},
  };
  for (const Case& c : cases) {
    ParseResult r = ParseReportForm(c.content_type, c.form);
    ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
    EXPECT_EQ(r.report.header.sid, "0123ABCD-4567-89EF-0011223344556677") << c.what;
    EXPECT_EQ(r.report.header.channel, "\xE6\xB8\xA0\xE9\x81\x93") << c.what;
    EXPECT_EQ(r.report.header.os_code, 130) << c.what;
    EXPECT_EQ(r.report.header.os_build, 7601) << c.what;
    EXPECT_EQ(r.report.header.rnd, "42") << c.what;
    EXPECT_TRUE(r.report.one_shot) << c.what;
    EXPECT_EQ(r.report.src, "End") << c.what;
    EXPECT_EQ(r.report.Get("Stat"), "999") << c.what;
    EXPECT_EQ(r.report.Get("Cfgver"), "1.2.3.4") << c.what;
  }
}

TEST(ReportFormTest, RefusesTruncatedAndMalformedForms) {
  const std::string golden = Golden();
  const std::string body_start = "Op=Functionwebinst";
  struct Case {
    const char* what;
    std::string content_type, form;
  } cases[] = {
      {"not multipart", "application/x-www-form-urlencoded", golden},
      {"no boundary", "multipart/form-data", golden},
      {"another boundary", "multipart/form-data; boundary=other", golden},
      {"empty form", kType, ""},
      {"cut inside the report", kType, golden.substr(0, golden.find(body_start) + 60)},
      {"cut before the closing delimiter", kType, golden.substr(0, golden.size() - 50)},
      {"cut inside the part headers", kType, golden.substr(0, golden.find("filename"))},
      {"no userfile part", kType, Replace(golden, "name=\"userfile\"", "name=\"other\"")},
      {"report shorter than raw_file_size", kType, Replace(golden, "233\n", "234\n")},
      {"raw_file_size not a number", kType, Replace(golden, "233\n", "23x\n")},
      {"part without Content-Disposition", kType, Replace(golden, "Content-Disposition: form-data; name=\"userfile\"; filename=\"data.dat\";\r\n", "")},
  };
  for (const Case& c : cases) {
    ParseResult r = ParseReportForm(c.content_type, c.form);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_FALSE(r.error.empty()) << c.what;
  }
}

TEST(ReportFormTest, ReportBodies) {
  const std::string header =
      "Op=Functionwebinst Type=vxdowninstall2 Version=1.0.0.1 Sid=AB-12 From=demo Mode=Clickonce PcCode=P Uinf=1-2 "
      "Time=2013_05_06_07_08_09 Rnd= Osv=130 Osvi=7601";
  struct Case {
    const char* what;
    std::string body;
    bool ok;
    std::string channel, key, value;
  } cases[] = {
      {"start record", header + " src=Start t_diff=0 \r\n", true, "demo", "src", "Start"},
      {"no line end", header + " src=Start t_diff=0 ", true, "demo", "t_diff", "0"},
      {"trace map", header + " csgn=csad/wvt p_trc=2:10/3:20 \r\n", true, "demo", "p_trc", "2:10/3:20"},
      {"empty trace map", header + " \r\n", true, "demo", "", ""},
      {"channel with spaces and a key text", Replace(header, "From=demo", "From=a b Mode c") + " src=Start \r\n", true, "a b Mode c", "src", "Start"},
      {"value with a space", header + " rstp=stp:1 2 x=1 \r\n", true, "demo", "rstp", "stp:1 2"},
      {"key whose value has =", header + " dmjfru=http://h/?a=b \r\n", true, "demo", "dmjfru", "http://h/?a=b"},
      {"html in a channel", Replace(header, "From=demo", "From=<script>alert(1)</script>") + " src=Start \r\n", true,
       "<script>alert(1)</script>", "src", "Start"},
      {"no Sid", Replace(header, "Sid=AB-12", "Sid=") + " src=Start \r\n", false, "", "", ""},
      {"Sid with a quote", Replace(header, "Sid=AB-12", "Sid=AB'12") + " src=Start \r\n", false, "", "", ""},
      {"fields out of order", Replace(header, "Mode=Clickonce PcCode=P", "PcCode=P Mode=Clickonce") + " \r\n", false, "", "", ""},
      {"Osv not a number", Replace(header, "Osv=130", "Osv=x") + " \r\n", false, "", "", ""},
      {"two lines", header + " src=Start \r\n" + header + " src=End \r\n", false, "", "", ""},
      {"not UTF-8", header + " src=Start v=\xC3\x28 \r\n", false, "", "", ""},
      {"overlong UTF-8", header + " src=Start v=\xC0\xAF \r\n", false, "", "", ""},
      {"a NUL byte", header + std::string(" src=Start v=\0 \r\n", 17), false, "", "", ""},
      {"empty src", header + " src= t_diff=0 \r\n", false, "", "", ""},
      {"pair without key", header + " =x \r\n", false, "", "", ""},
      {"line starts without a pair", header + " word \r\n", false, "", "", ""},
      {"only a header field", "Op=Functionwebinst\r\n", false, "", "", ""},
      {"empty", "", false, "", "", ""},
  };
  for (const Case& c : cases) {
    ParseResult r = ParseReportBody(c.body);
    ASSERT_EQ(r.ok, c.ok) << c.what << ": " << r.error;
    if (!c.ok) continue;
    EXPECT_EQ(r.report.header.channel, c.channel) << c.what;
    if (!c.key.empty()) EXPECT_EQ(r.report.Get(c.key), c.value) << c.what;
  }
}

TEST(ReportFormTest, TheBuildersFormParsesBackToItsBody) {
  RunIdentity run{"0123ABCD-4567-89EF-0011223344556677", "demo"};
  std::string body = ReportBody(run, TraceLine(9, 1 << 20, 1000, 2));
  ParseResult r = ParseReportForm(kFormContentType, ReportForm(body));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.report.one_shot);
  EXPECT_EQ(r.report.Get("trsui"), "buisred/ass/imd");
  EXPECT_EQ(r.report.Get("sthp"), "6:0:200:0:1/6:0:200:0:2");
}

}  // namespace
}  // namespace zstats
