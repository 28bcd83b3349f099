// Load generator of the statistics service's benchmark: posts the reports of
// N synthetic runs (start, end, accumulated maps sent two or three times, a
// funnel with drop-offs at each step, several channels and OS versions, some
// malformed bodies) from concurrent clients, one connection per report as
// the installer does, and prints throughput and latency.
//   zstats_loadgen --port P --runs N --clients C [--malformed-every K] [--tag T]
//                  [--seconds S] [--rate R]   (S: post new runs for S seconds
//                  instead of N runs; R: at most R reports/s in all)
//   zstats_loadgen --write-bodies FILE --runs N [--final-only 1]  (bodies for an import)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "report_builder.h"

namespace {

std::vector<std::string> RunBodies(int i, const std::string& tag) {
  static const char* const kChannels[] = {"demo", "abc", "news", "partner-7", "\xE6\xB8\xA0\xE9\x81\x93"};
  static const int kOs[][2] = {{130, 7601}, {101, 2600}, {103, 2600}, {111, 6001}, {0, 9200}, {123, 7601}};
  char sid[48];
  std::snprintf(sid, sizeof(sid), "%08X-%s-4000-8000-%012X", static_cast<unsigned>(i) * 2654435761u, tag.c_str(), i);
  zstats::RunIdentity id{sid, kChannels[i % 5], "1.0.0.1", kOs[(i / 5) % 6][0], kOs[(i / 5) % 6][1]};
  // Most runs install; the rest stop at every step of the funnel.
  int stage = (i % 4 != 0) ? 9 : (i / 4) % 10;
  int64_t bytes = 30000000 + 1009 * (i % 1000), ms = 2000 + 131 * (i % 97);
  std::vector<std::string> bodies = {zstats::ReportBody(id, zstats::StartLine()),
                                     zstats::ReportBody(id, zstats::TraceLine(stage, bytes, ms, 0)),
                                     zstats::ReportBody(id, zstats::EndLine(stage)),
                                     zstats::ReportBody(id, zstats::TraceLine(stage, bytes, ms, 1))};
  if (i % 2) bodies.push_back(zstats::ReportBody(id, zstats::TraceLine(stage, bytes, ms, 2)));
  return bodies;
}

// Posts one form on a connection of its own, the request in one write, and
// returns the answer's status (0 when there is none). A bare socket keeps
// the generator's own CPU low: it shares the machine with the service.
int PostOnce(int port, const std::string& form) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string request = std::string("POST /stat_report.fcgi HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: ") +
                        zstats::kFormContentType + "\r\nContent-Length: " + std::to_string(form.size()) +
                        "\r\nConnection: close\r\n\r\n" + form;
  int status = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    // The service ends the connection after its answer.
    std::string answer;
    char buffer[4096];
    for (ssize_t got; (got = recv(fd, buffer, sizeof(buffer), 0)) > 0;) answer.append(buffer, static_cast<size_t>(got));
    if (answer.compare(0, 9, "HTTP/1.1 ") == 0 && answer.size() >= 12) status = std::atoi(answer.c_str() + 9);
  }
  close(fd);
  return status;
}

double Percentile(std::vector<double>* v, double p) {
  if (v->empty()) return 0;
  size_t k = std::min(v->size() - 1, static_cast<size_t>(p * static_cast<double>(v->size())));
  std::nth_element(v->begin(), v->begin() + static_cast<long>(k), v->end());
  return (*v)[k];
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, runs = 1000, clients = 16, malformed_every = 0, final_only = 0, duration = 0, rate = 0;
  std::string write_bodies, tag = "0000";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--port") port = std::atoi(argv[i + 1]);
    else if (a == "--runs") runs = std::atoi(argv[i + 1]);
    else if (a == "--clients") clients = std::atoi(argv[i + 1]);
    else if (a == "--malformed-every") malformed_every = std::atoi(argv[i + 1]);
    else if (a == "--write-bodies") write_bodies = argv[i + 1];
    else if (a == "--tag") tag = argv[i + 1];
    else if (a == "--final-only") final_only = std::atoi(argv[i + 1]);
    else if (a == "--seconds") duration = std::atoi(argv[i + 1]);
    else if (a == "--rate") rate = std::atoi(argv[i + 1]);
  }
  if (!write_bodies.empty()) {
    std::ofstream out(write_bodies, std::ios::binary);
    // --final-only 1: each run's End record and last accumulated map, what
    // a store keeps of it (a smaller file for large imports).
    for (int i = 0; i < runs; ++i) {
      std::vector<std::string> bodies = RunBodies(i, tag);
      if (final_only) bodies = {bodies[2], bodies.back()};
      for (const std::string& b : bodies) out << b;
    }
    return out ? 0 : 1;
  }
  // Each client posts whole runs, their reports in order.
  std::atomic<int> next_run{0};
  std::atomic<long> ok{0}, rejected{0}, limited{0}, failed{0};
  std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
  auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(duration);
  auto more = [&](int run) { return duration > 0 ? std::chrono::steady_clock::now() < deadline : run < runs; };
  // Each client's share of the rate, as the time between its reports.
  const auto pause = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(rate > 0 ? static_cast<double>(clients) / rate : 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&, t] {
      long sent = 0;
      auto next_send = std::chrono::steady_clock::now();
      for (int run = next_run++; more(run); run = next_run++) {
        for (std::string body : RunBodies(run, tag)) {
          ++sent;
          // At a rate, a report's latency counts from when it was due, so a
          // service that falls behind shows its backlog in the figures.
          std::chrono::steady_clock::time_point due{};
          if (rate > 0) {
            std::this_thread::sleep_until(next_send);
            due = next_send;
            next_send += pause;
          }
          std::string form = zstats::ReportForm(body);
          if (malformed_every > 0 && sent % malformed_every == 0) form = form.substr(0, form.size() / 2);
          auto t0 = rate > 0 ? due : std::chrono::steady_clock::now();
          int status = PostOnce(port, form);
          latencies[static_cast<size_t>(t)].push_back(
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
          if (status == 200) ++ok;
          else if (status == 400) ++rejected;
          else if (status == 429) ++limited;
          else ++failed;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::vector<double> all;
  for (auto& v : latencies) all.insert(all.end(), v.begin(), v.end());
  long total = static_cast<long>(all.size());
  std::printf("RESULT reports=%ld stored=%ld rejected=%ld limited=%ld failed=%ld seconds=%.2f per_second=%.0f p50_ms=%.2f p99_ms=%.2f\n",
              total, ok.load(), rejected.load(), limited.load(), failed.load(), seconds, total / seconds,
              Percentile(&all, 0.50), Percentile(&all, 0.99));
  return failed.load() == 0 ? 0 : 1;
}
