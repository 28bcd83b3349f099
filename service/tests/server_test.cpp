// The service over HTTP: ingest answers (200 stored, 400 and 413 store
// nothing, 429 over the rate limit while others are served) and operator
// login for the page and the API.
#include <gtest/gtest.h>
#include <httplib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "config.h"
#include "report_builder.h"
#include "server.h"
#include "test_reports.h"

namespace zstats {
namespace {

constexpr const char* kPassword = "correct horse battery";
constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

std::string Golden() {
  std::ifstream in(ZSTATS_GOLDEN_FORM, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

class ServerTest : public ::testing::Test {
 protected:
  void Start(double reports_per_second, double burst) {
    path_ = "/tmp/zstats_server_test_" + std::to_string(getpid()) + ".sqlite";
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((path_ + suffix).c_str());
    std::string error;
    store_ = OpenSqliteStore(path_, &error);
    ASSERT_TRUE(store_) << error;
    Config config;
    config.users["alice"] = HashPassword(kPassword);
    config.tokens["monitor"] = HashToken(kToken);
    config.reports_per_second = reports_per_second;
    config.burst = burst;
    server_ = std::make_unique<StatsServer>(store_.get(), config, 16);
    port_ = server_->Bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->Listen(); });
    httplib::Client probe("127.0.0.1", port_);
    for (int i = 0; i < 100 && !probe.Get("/healthz"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    store_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((path_ + suffix).c_str());
  }
  int Post(const std::string& form, const std::string& type = kFormContentType) {
    httplib::Client c("127.0.0.1", port_);
    auto r = c.Post("/stat_report.fcgi", form, type.c_str());
    return r ? r->status : -1;
  }
  int64_t Runs() {
    int64_t runs = 0, records = 0;
    std::string error;
    EXPECT_TRUE(store_->Count(&runs, &records, &error)) << error;
    return runs;
  }

  std::string path_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<StatsServer> server_;
  std::thread thread_;
  int port_ = 0;
};

// Installers post each report on a connection of its own, so a burst
// arrives faster than connections are accepted. They wait in the listen
// queue; with the library's queue of 5 the kernel dropped the rest, and
// each of those installers waited a second for its handshake, or gave up.
TEST(ServerListenQueue, ABurstOfConnectionsWaitsToBeAccepted) {
  const std::string path = "/tmp/zstats_listen_test_" + std::to_string(getpid()) + ".sqlite";
  std::string error;
  std::unique_ptr<Store> store = OpenSqliteStore(path, &error);
  ASSERT_TRUE(store) << error;
  StatsServer server(store.get(), Config(), 4);
  const int port = server.Bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  // Bound but not accepting yet: every connection of the burst must queue.
  constexpr int kBurst = 64;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> sockets;
  for (int i = 0; i < kBurst; ++i) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(s, 0);
    connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    sockets.push_back(s);
  }
  // A queued handshake completes at once on loopback; a dropped one would
  // be sent again only after a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int established = 0;
  for (int s : sockets) {
    pollfd ready{s, POLLOUT, 0};
    int failure = 0;
    socklen_t length = sizeof failure;
    if (poll(&ready, 1, 0) == 1 && getsockopt(s, SOL_SOCKET, SO_ERROR, &failure, &length) == 0 && failure == 0) {
      ++established;
    }
    close(s);
  }
  EXPECT_EQ(established, kBurst);
  // Removed while open: the server and then the store close them at the end.
  for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
}

TEST_F(ServerTest, IngestAnswers) {
  Start(0, 0);
  const std::string golden = Golden();
  struct Case {
    const char* what;
    std::string form;
    int status;
    int64_t runs_after;
  } cases[] = {
      {"truncated form", golden.substr(0, golden.size() / 2), 400, 0},
      {"malformed report", Replace(golden, "Osvi=7601", "Osvi=760x"), 400, 0},
      {"oversized form", ReportForm(std::string(70 * 1024, 'x')), 413, 0},
      {"the installer's form", golden, 200, 1},
      {"its retry", golden, 200, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Post(c.form), c.status) << c.what;
    EXPECT_EQ(Runs(), c.runs_after) << c.what;
  }
  httplib::Client c("127.0.0.1", port_);
  auto get = c.Get("/stat_report.fcgi");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
}

TEST_F(ServerTest, ConcurrentReportsAreAllStored) {
  Start(0, 0);
  std::vector<std::string> bodies = SyntheticBodies(40);
  std::vector<std::thread> clients;
  std::atomic<int> ok{0};
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([&, t] {
      for (size_t i = t; i < bodies.size(); i += 8) ok += Post(ReportForm(bodies[i])) == 200;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(ok, static_cast<int>(bodies.size()));
  EXPECT_EQ(Runs(), 40);
}

TEST_F(ServerTest, RateLimitAnswers429WhileOthersAreServed) {
  Start(1, 5);
  std::string form = ReportForm(SyntheticBodies(1)[0]);
  std::vector<int> statuses;
  for (int i = 0; i < 8; ++i) statuses.push_back(Post(form));
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 200), 5);
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 429), 3);
  httplib::Client c("127.0.0.1", port_);
  auto limited = c.Post("/stat_report.fcgi", form, kFormContentType);
  ASSERT_TRUE(limited);
  EXPECT_EQ(limited->status, 429);
  EXPECT_EQ(limited->get_header_value("Retry-After"), "1");
  // The operators' side is not limited.
  httplib::Headers bearer = {{"Authorization", std::string("Bearer ") + kToken}};
  auto api = c.Get("/api/summary.json", bearer);
  ASSERT_TRUE(api);
  EXPECT_EQ(api->status, 200);
}

TEST_F(ServerTest, PageAndApiNeedALogin) {
  Start(0, 0);
  ASSERT_EQ(Post(Golden()), 200);
  httplib::Client c("127.0.0.1", port_);
  struct Case {
    const char* path;
    httplib::Headers headers;
    int status;
  } cases[] = {
      {"/", {}, 401},
      {"/api/summary.json", {}, 401},
      {"/api/summary.csv", {{"Authorization", "Bearer wrong"}}, 401},
      {"/run/0123ABCD-4567-89EF-0011223344556677", {}, 401},
      {"/api/summary.json", {{"Authorization", std::string("Bearer ") + kToken}}, 200},
      {"/", {{"Cookie", "zs_session=forged"}}, 401},
  };
  for (const Case& k : cases) {
    auto r = c.Get(k.path, k.headers);
    ASSERT_TRUE(r) << k.path;
    EXPECT_EQ(r->status, k.status) << k.path;
  }
  auto wrong = c.Post("/login", "user=alice&password=nope", "application/x-www-form-urlencoded");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 401);
  auto login = c.Post("/login", "user=alice&password=correct+horse+battery",
                      "application/x-www-form-urlencoded");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->status, 303);
  std::string cookie = login->get_header_value("Set-Cookie");
  ASSERT_EQ(cookie.rfind("zs_session=", 0), 0u);
  httplib::Headers session = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
  for (const char* path : {"/", "/run/0123ABCD-4567-89EF-0011223344556677", "/api/summary.csv",
                           "/api/run/0123ABCD-4567-89EF-0011223344556677.json"}) {
    auto r = c.Get(path, session);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 200) << path;
  }
  auto page = c.Get("/", session);
  EXPECT_NE(page->body.find("id=\"chart-funnel\""), std::string::npos);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
  auto csv = c.Get("/api/summary.csv", session);
  EXPECT_NE(csv->body.find("total,"), std::string::npos);
  EXPECT_EQ(c.Get("/run/NO-SUCH", session)->status, 404);
}

}  // namespace
}  // namespace zstats
