// The HTTP side of the service: the open ingest path and the operators'
// pages and API behind a login.
#pragma once

#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "committer.h"
#include "config.h"
#include "store.h"

namespace zstats {

// 64 KiB is far above a real report (about 1 to 10 KiB).
constexpr size_t kMaxFormBytes = 64 * 1024;
constexpr size_t kDefaultMaxBatch = 512;
constexpr int kDefaultThreads = 64;
// Connections waiting to be accepted (the kernel caps it at somaxconn).
constexpr int kListenBacklog = 4096;

class StatsServer {
 public:
  StatsServer(Store* store, Config config, int threads = kDefaultThreads, size_t max_batch = kDefaultMaxBatch);
  ~StatsServer();

  // Binds to host:port (port 0: any free port); returns the port or -1.
  int Bind(const std::string& host, int port);
  // Serves until Stop().
  bool Listen();
  void Stop();

 private:
  struct Bucket {
    double tokens;
    std::chrono::steady_clock::time_point at;
  };
  bool AllowReport(const std::string& address);
  // The operator logged in with this request: a session cookie or a token.
  std::string Operator(const httplib::Request& req);
  std::string NewSession(const std::string& user);
  bool ReadFilter(const httplib::Request& req, Filter* filter, std::string* error);
  void Ingest(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
  void Routes();

  Store* store_;
  Config config_;
  // The listening socket, as the library made it (-1 before Bind).
  socket_t listen_socket_ = -1;
  Committer committer_;
  httplib::Server http_;
  std::mutex sessions_mutex_;
  std::map<std::string, std::pair<std::string, std::chrono::steady_clock::time_point>> sessions_;
  std::mutex buckets_mutex_;
  std::map<std::string, Bucket> buckets_;
};

}  // namespace zstats
