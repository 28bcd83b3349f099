// The real installer's reports through the operators' statistics service
// (zetora-stats on the statistics port, a fresh database per test program):
// a silent install of the signed demo package lands as one run with its
// channel, end result, steps and package download figures, and the
// dashboard and the run's page show it.
#include <json/json.h>

#include <algorithm>
#include <memory>

#include "app/testing/package_fixture_win.h"
#include "stat/collector_client_win.h"

namespace {

constexpr unsigned kHttpOk = 200;
constexpr int kEndResultSuccess = 1;
constexpr int kStepInstalled = 19;

class StatsServiceInstallerTest : public PackageFixture {
 protected:
  // The service injects no faults: there is nothing to reset.
  bool ResetStatisticsServer() override { return true; }

  // GET with the service's access token (from stats_service.sh); the body
  // of a 200, "" otherwise.
  std::string Get(const std::string& path) {
    char token[128] = {};
    GetEnvironmentVariableA("STATS_TOKEN", token, sizeof(token));
    std::string body;
    unsigned status = 0;
    if (!LoopbackGet(collector_.server().port, path, std::string("Authorization: Bearer ") + token + "\r\n",
                     &body, &status) || status != kHttpOk) {
      ADD_FAILURE() << path << ": status " << status << " " << body;
      return "";
    }
    return body;
  }
  Json::Value GetJson(const std::string& path) {
    const std::string text = Get(path);
    Json::Value root;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &errors)) << path << errors;
    return root;
  }
};

TEST_F(StatsServiceInstallerTest, AnInstallLandsAsOneRunThatThePagesShow) {
  Serve("svc", "");
  const InstallerRunResult run = Run("svc");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;

  // Start, End and the accumulated map sent several times: one run.
  const Json::Value runs = GetJson("/api/runs.json")["runs"];
  ASSERT_EQ(runs.size(), 1u) << runs;
  const std::string sid = runs[0]["sid"].asString();
  const Json::Value stored = GetJson("/api/run/" + sid + ".json");
  EXPECT_EQ(stored["channel"].asString(), "svc");
  EXPECT_TRUE(stored["has_start"].asBool());
  EXPECT_TRUE(stored["has_end"].asBool());
  EXPECT_EQ(stored["end_result"].asInt(), kEndResultSuccess);
  EXPECT_TRUE(stored["installed"].asBool());
  EXPECT_EQ(stored["last_step"].asInt(), kStepInstalled) << stored["traces"];
  EXPECT_EQ(stored["pkg_bytes"].asUInt64(), SignedPackage("").size()) << stored["traces"];
  EXPECT_GT(stored["pkg_ms"].asInt64(), 0) << stored["traces"];
  EXPECT_EQ(stored["trust"].asInt(), 1) << stored["traces"];
  std::vector<std::string> sources;
  for (const Json::Value& record : stored["records"]) sources.push_back(record["src"].asString());
  std::sort(sources.begin(), sources.end());
  EXPECT_EQ(sources, (std::vector<std::string>{"End", "Start"}));

  const Json::Value summary = GetJson("/api/summary.json?channel=svc");
  EXPECT_EQ(summary["runs"].asInt(), 1);
  EXPECT_EQ(summary["installed"].asInt(), 1);

  const std::string dashboard = Get("/");
  EXPECT_TRUE(Has(dashboard, ">svc</option>")) << dashboard;
  EXPECT_TRUE(Has(dashboard, "<b id=\"installed\">1</b>")) << dashboard;
  const std::string page = Get("/run/" + sid);
  EXPECT_TRUE(Has(page, "<span id=\"sid\">" + sid + "</span>")) << page;
  EXPECT_TRUE(Has(page, "<td>svc</td>")) << page;
}

}  // namespace
