#include "server.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "dashboard.h"

namespace zstats {
namespace {

// Where the ingest path keeps the request's Content-Type (see Routes).
constexpr const char* kFormTypeHeader = "X-Zetora-Form-Type";
constexpr auto kSessionLifetime = std::chrono::hours(12);
constexpr const char* kSessionCookie = "zs_session";
constexpr size_t kMaxTrackedAddresses = 100000;
constexpr int kDefaultDays = 30;
constexpr int64_t kMaxDays = 3660;
constexpr int64_t kListedRuns = 100;
// Slow clients: a report is a few KiB, so 10 s per read is generous.
constexpr int kReadTimeoutSeconds = 10;
constexpr int kWriteTimeoutSeconds = 10;
// Pages carry no scripts; the policy forbids them even if escaping failed.
constexpr const char* kPagePolicy =
    "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; form-action 'self'; frame-ancestors 'none'";

void PlainText(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

void Html(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  res.set_header("Content-Security-Policy", kPagePolicy);
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Cache-Control", "no-store");
  res.set_content(html, "text/html; charset=utf-8");
}

std::string CookieValue(const httplib::Request& req, const std::string& name) {
  std::string cookies = req.get_header_value("Cookie");
  size_t pos = 0;
  while (pos < cookies.size()) {
    size_t end = cookies.find(';', pos);
    std::string item = cookies.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? cookies.size() : end + 1;
    size_t b = item.find_first_not_of(' ');
    if (b == std::string::npos) continue;
    item = item.substr(b);
    if (item.compare(0, name.size() + 1, name + "=") == 0) return item.substr(name.size() + 1);
  }
  return {};
}

int64_t Today() { return static_cast<int64_t>(std::time(nullptr)) / 86400; }

}  // namespace

StatsServer::StatsServer(Store* store, Config config, int threads, size_t max_batch)
    : store_(store),
      config_(std::move(config)),
      committer_(store, max_batch, config_.retention_days * 86400) {
  http_.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  http_.set_payload_max_length(kMaxFormBytes);
  http_.set_read_timeout(kReadTimeoutSeconds, 0);
  http_.set_write_timeout(kWriteTimeoutSeconds, 0);
  http_.set_keep_alive_timeout(5);
  // SO_REUSEADDR only: a restarted service binds over the connections its
  // predecessor left in TIME_WAIT, and a second service on the same port
  // fails to bind. (The library's default, SO_REUSEPORT, does the reverse:
  // two services would share the port, and a port whose last user did not
  // set it stays closed for a minute.)
  http_.set_socket_options([this](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listen_socket_ = sock;
  });
  Routes();
}

StatsServer::~StatsServer() { Stop(); }

int StatsServer::Bind(const std::string& host, int port) {
  const int bound = port == 0 ? http_.bind_to_any_port(host) : (http_.bind_to_port(host, port) ? port : -1);
  // The library listens with a backlog of 5. Every report is a connection
  // of its own, and a burst of installers overflowed that queue: the kernel
  // dropped what did not fit (thousands in one benchmark run), and each of
  // those clients waited a second for its handshake to be sent again. The
  // bound socket listens again with a deep queue (Linux takes a second
  // listen() as a new backlog).
  if (bound >= 0 && listen_socket_ >= 0 && ::listen(listen_socket_, kListenBacklog) != 0) {
    std::fprintf(stderr, "zetora-stats: cannot deepen the listen queue: %s\n", std::strerror(errno));
  }
  return bound;
}

bool StatsServer::Listen() { return http_.listen_after_bind(); }

void StatsServer::Stop() { http_.stop(); }

bool StatsServer::AllowReport(const std::string& address) {
  if (config_.reports_per_second <= 0) return true;
  auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(buckets_mutex_);
  if (buckets_.size() > kMaxTrackedAddresses) buckets_.clear();
  auto [it, created] = buckets_.try_emplace(address, Bucket{config_.burst, now});
  Bucket& b = it->second;
  double elapsed = std::chrono::duration<double>(now - b.at).count();
  b.tokens = std::min(config_.burst, b.tokens + elapsed * config_.reports_per_second);
  b.at = now;
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

std::string StatsServer::NewSession(const std::string& user) {
  std::string id = RandomHex();
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  auto now = std::chrono::steady_clock::now();
  for (auto it = sessions_.begin(); it != sessions_.end();) it = it->second.second < now ? sessions_.erase(it) : std::next(it);
  sessions_[id] = {user, now + kSessionLifetime};
  return id;
}

std::string StatsServer::Operator(const httplib::Request& req) {
  std::string session = CookieValue(req, kSessionCookie);
  if (!session.empty()) {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    auto it = sessions_.find(session);
    if (it != sessions_.end() && it->second.second > std::chrono::steady_clock::now()) return it->second.first;
  }
  std::string auth = req.get_header_value("Authorization");
  if (auth.compare(0, 7, "Bearer ") == 0) {
    std::string token = auth.substr(7);
    for (const auto& [name, hash] : config_.tokens)
      if (VerifyToken(token, hash)) return "token " + name;
  }
  return {};
}

bool StatsServer::ReadFilter(const httplib::Request& req, Filter* filter, std::string* error) {
  filter->day_to = Today();
  filter->day_from = filter->day_to - (kDefaultDays - 1);
  if (req.has_param("to") && !req.get_param_value("to").empty()) filter->day_to = ParseDay(req.get_param_value("to"));
  if (req.has_param("from") && !req.get_param_value("from").empty()) filter->day_from = ParseDay(req.get_param_value("from"));
  if (filter->day_from < 0 || filter->day_to < 0) {
    *error = "from and to are dates, YYYY-MM-DD";
    return false;
  }
  if (filter->day_from > filter->day_to) std::swap(filter->day_from, filter->day_to);
  if (filter->day_to - filter->day_from > kMaxDays) filter->day_from = filter->day_to - kMaxDays;
  // The page's "all channels" choice sends an empty value.
  filter->channel = req.get_param_value("channel");
  filter->all_channels = filter->channel.empty();
  return true;
}

void StatsServer::Ingest(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
  std::string form;
  bool complete = reader([&](const char* data, size_t length) {
    if (form.size() + length > kMaxFormBytes) return false;
    form.append(data, length);
    return true;
  });
  if (!complete || form.size() > kMaxFormBytes) {
    PlainText(res, 413, "report larger than " + std::to_string(kMaxFormBytes) + " bytes");
    return;
  }
  ParseResult parsed = ParseReportForm(req.get_header_value(kFormTypeHeader), form);
  if (!parsed.ok) {
    PlainText(res, 400, "malformed report: " + parsed.error);
    return;
  }
  std::string error;
  if (!committer_.Submit(parsed.report, &error)) {
    // Not stored: the installer sends it again.
    res.set_header("Retry-After", "5");
    PlainText(res, 503, "report not stored, try again");
    return;
  }
  PlainText(res, 200, "ok");
}

void StatsServer::Routes() {
  // The rate limit answers before the body is read.
  http_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "POST" || req.path != "/stat_report.fcgi") return httplib::Server::HandlerResponse::Unhandled;
    if (!AllowReport(req.remote_addr)) {
      res.set_header("Retry-After", "1");
      PlainText(res, 429, "too many reports from " + req.remote_addr + ", slow down");
      return httplib::Server::HandlerResponse::Handled;
    }
    // cpp-httplib (0.11) reads every multipart/form-data body with its own
    // parser, which misreads the installer's form: it drops a part's name
    // that is followed by ";" and misses a delimiter after a bare LF, so the
    // report part is swallowed by the one before it. The body is therefore
    // read raw and parsed by ParseReportForm. The request object the library
    // passes here is its own, non-const one.
    auto& headers = const_cast<httplib::Request&>(req).headers;
    auto type = headers.find("Content-Type");
    if (type != headers.end()) {
      std::string value = type->second;
      headers.erase(type);
      headers.emplace(kFormTypeHeader, value);
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  http_.Post("/stat_report.fcgi", [this](const httplib::Request& req, httplib::Response& res,
                                         const httplib::ContentReader& reader) { Ingest(req, res, reader); });

  http_.Get("/login", [this](const httplib::Request& req, httplib::Response& res) {
    // An access token in the address logs in (automation, a browser opened
    // by a script); the redirect drops it from the address bar.
    if (req.has_param("token")) {
      std::string token = req.get_param_value("token");
      for (const auto& [name, hash] : config_.tokens) {
        if (!VerifyToken(token, hash)) continue;
        res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + NewSession("token " + name) +
                                         "; Path=/; HttpOnly; SameSite=Lax");
        res.set_redirect("/", 303);
        return;
      }
      Html(res, 401, RenderLoginPage("unknown token"));
      return;
    }
    Html(res, 200, RenderLoginPage(""));
  });

  http_.Post("/login", [this](const httplib::Request& req, httplib::Response& res) {
    std::string user = req.get_param_value("user"), password = req.get_param_value("password");
    auto it = config_.users.find(user);
    if (it == config_.users.end() || !VerifyPassword(password, it->second)) {
      Html(res, 401, RenderLoginPage("wrong user or password"));
      return;
    }
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + NewSession(user) + "; Path=/; HttpOnly; SameSite=Lax");
    res.set_redirect("/", 303);
  });

  http_.Post("/logout", [this](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    sessions_.erase(CookieValue(req, kSessionCookie));
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=; Path=/; Max-Age=0");
    res.set_redirect("/login", 303);
  });

  http_.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
    std::string user = Operator(req);
    if (user.empty()) return Html(res, 401, RenderLoginPage(""));
    Filter filter;
    std::string error;
    if (!ReadFilter(req, &filter, &error)) return Html(res, 400, RenderLoginPage(error));
    Summary summary;
    std::vector<std::string> channels;
    if (!store_->Summarize(filter, &summary, &error) || !store_->ListChannels(&channels, &error))
      return PlainText(res, 500, "store: " + error);
    Html(res, 200, RenderDashboard(summary, filter, channels, user));
  });

  auto run_page = [this](const httplib::Request& req, httplib::Response& res, const std::string& sid, bool json) {
    if (Operator(req).empty()) return json ? PlainText(res, 401, "login needed") : Html(res, 401, RenderLoginPage(""));
    RunRow row;
    std::vector<StoredRecord> records;
    std::string error;
    if (!store_->LoadRun(sid, &row, &records, &error)) {
      if (!error.empty()) return PlainText(res, 500, "store: " + error);
      return PlainText(res, 404, "no run with this Sid");
    }
    if (json) return res.set_content(RunJson(row, records), "application/json");
    Html(res, 200, RenderRunPage(row, records));
  };
  http_.Get("/run", [run_page](const httplib::Request& req, httplib::Response& res) {
    run_page(req, res, req.get_param_value("sid"), false);
  });
  http_.Get(R"(/run/([^/]+))", [run_page](const httplib::Request& req, httplib::Response& res) {
    run_page(req, res, req.matches[1], false);
  });
  http_.Get(R"(/api/run/([^/]+)\.json)", [run_page](const httplib::Request& req, httplib::Response& res) {
    run_page(req, res, req.matches[1], true);
  });

  auto summary_api = [this](const httplib::Request& req, httplib::Response& res, bool csv) {
    if (Operator(req).empty()) return PlainText(res, 401, "login needed");
    Filter filter;
    std::string error;
    if (!ReadFilter(req, &filter, &error)) return PlainText(res, 400, error);
    Summary summary;
    if (!store_->Summarize(filter, &summary, &error)) return PlainText(res, 500, "store: " + error);
    if (csv) {
      res.set_header("Content-Disposition", "attachment; filename=\"summary.csv\"");
      res.set_content(SummaryCsv(summary, filter), "text/csv; charset=utf-8");
    } else {
      res.set_content(SummaryJson(summary, filter), "application/json");
    }
  };
  http_.Get("/api/summary.json", [summary_api](const httplib::Request& req, httplib::Response& res) { summary_api(req, res, false); });
  http_.Get("/api/summary.csv", [summary_api](const httplib::Request& req, httplib::Response& res) { summary_api(req, res, true); });
  // The newest runs of the filter, to find a run's Sid.
  http_.Get("/api/runs.json", [this](const httplib::Request& req, httplib::Response& res) {
    if (Operator(req).empty()) return PlainText(res, 401, "login needed");
    Filter filter;
    std::vector<RunRow> runs;
    std::string error;
    if (!ReadFilter(req, &filter, &error)) return PlainText(res, 400, error);
    if (!store_->ListRuns(filter, kListedRuns, &runs, &error)) return PlainText(res, 500, "store: " + error);
    res.set_content(RunsJson(runs, filter), "application/json");
  });
  http_.Get("/healthz", [](const httplib::Request&, httplib::Response& res) { PlainText(res, 200, "ok"); });
}

}  // namespace zstats
