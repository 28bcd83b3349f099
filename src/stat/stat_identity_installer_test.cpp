// A silent run of the real installer reports the machine identifier and the
// software fingerprint in the header of its statistics, as the collector on
// the build's statistics port receives them.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "stat/collector_client_win.h"
#include "sys/testing/test_files_win.h"
#include "sys/testing/test_process_win.h"

namespace {

TEST(InstallerIdentity, HeaderCarriesMachineIdentifierAndFingerprint) {
  CollectorClient collector;
  ASSERT_NE(collector.server().port, 0);
  ASSERT_TRUE(collector.Control("status=200"));
  // Other runs may report to the same port; this run's tag picks its reports.
  const std::string tag = "id" + std::to_string(GetCurrentProcessId()) + std::to_string(GetTickCount());
  const std::wstring commandLine = L"\"" + WinePath(ZETORA_INSTALLER_WIDE_PATH) +
                                   L"\" /S -tn idtest -rnd " + std::wstring(tag.begin(), tag.end());
  std::string diagnostics;
  // Nothing serves the package: the run ends with end reason 5.
  ASSERT_EQ(RunProgram(commandLine, 120000, &diagnostics), 5u) << diagnostics;

  std::string header;
  for (const Json::Value& report : collector.Reports()) {
    const std::string candidate = report["header"].asString();
    if (candidate.find(" From=idtest ") != std::string::npos &&
        candidate.find(" Rnd=" + tag + " ") != std::string::npos) {
      header = candidate;
      break;
    }
  }
  ASSERT_FALSE(header.empty()) << diagnostics;

  std::smatch fields;
  ASSERT_TRUE(std::regex_search(header, fields, std::regex(" PcCode=(\\S*) Uinf=(\\S*) "))) << header;
  const std::string machineId = fields[1].str();
  const std::string fingerprint = fields[2].str();
  EXPECT_TRUE(std::regex_match(machineId,
                               std::regex("C_[0-9A-F]+-D_[-_.~%+0-9A-Za-z]+-M_[0-9A-F]+-V_[0-9A-F]+")))
      << header;
  std::smatch words;
  ASSERT_TRUE(std::regex_match(fingerprint, words, std::regex("([0-9]{1,10})-([0-9]{1,10})"))) << header;
  EXPECT_LE(std::stoull(words[1].str()), 0xFFFFFFFFull);
  EXPECT_LE(std::stoull(words[2].str()), 0xFFFFFFFFull);
}

}  // namespace
