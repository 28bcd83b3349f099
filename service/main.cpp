// zetora-stats: the operators' statistics service of the web installer.
//   zetora-stats serve --db stats.sqlite --listen 0.0.0.0:80 --config stats.ini
//   zetora-stats import FILE --db stats.sqlite
//   zetora-stats user add NAME --config stats.ini
//   zetora-stats token add NAME --config stats.ini
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "server.h"
#include "store.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  zetora-stats serve [--db stats.sqlite | --db postgresql://...] [--listen 0.0.0.0:80]\n"
    "                     [--config stats.ini] [--threads N] [--print-ready]\n"
    "  zetora-stats import FILE [--db ...]     (report bodies, one per line)\n"
    "  zetora-stats user add NAME [--config stats.ini]   (password on standard input)\n"
    "  zetora-stats token add NAME [--config stats.ini]  (prints a new access token)\n";
constexpr size_t kImportBatch = 2000;

struct Options {
  std::vector<std::string> words;
  std::map<std::string, std::string> values;
  bool print_ready = false;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--print-ready") {
      o->print_ready = true;
    } else if (a.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return false;
      o->values[a.substr(2)] = argv[++i];
    } else {
      o->words.push_back(a);
    }
  }
  return true;
}

std::string Value(const Options& o, const std::string& name, const std::string& fallback) {
  auto it = o.values.find(name);
  return it == o.values.end() ? fallback : it->second;
}

int Serve(const Options& o) {
  zstats::Config config;
  std::string error;
  std::string config_path = Value(o, "config", "stats.ini");
  if (!zstats::LoadConfig(config_path, &config, &error)) {
    std::fprintf(stderr, "zetora-stats: %s\n", error.c_str());
    return 2;
  }
  if (config.users.empty() && config.tokens.empty())
    std::fprintf(stderr, "zetora-stats: %s has no users; add one with: zetora-stats user add NAME --config %s\n",
                 config_path.c_str(), config_path.c_str());
  std::string listen = Value(o, "listen", "0.0.0.0:80");
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos) {
    std::fprintf(stderr, "zetora-stats: --listen wants HOST:PORT\n");
    return 2;
  }
  std::string host = listen.substr(0, colon);
  int port = std::atoi(listen.c_str() + colon + 1);
  // Signals are taken by one thread, so the server stops cleanly.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<zstats::Store> store = zstats::OpenStore(Value(o, "db", "stats.sqlite"), &error);
  if (!store) {
    std::fprintf(stderr, "zetora-stats: %s\n", error.c_str());
    return 1;
  }
  int threads = std::atoi(Value(o, "threads", std::to_string(zstats::kDefaultThreads)).c_str());
  zstats::StatsServer server(store.get(), config, threads > 0 ? threads : zstats::kDefaultThreads);
  int bound = server.Bind(host, port);
  if (bound < 0) {
    std::fprintf(stderr, "zetora-stats: cannot listen on %s\n", listen.c_str());
    return 1;
  }
  std::thread stopper([&] {
    int sig = 0;
    sigwait(&signals, &sig);
    server.Stop();
  });
  std::fprintf(stderr, "zetora-stats: serving http://%s:%d/ (reports at /stat_report.fcgi)\n", host.c_str(), bound);
  if (o.print_ready) std::printf("READY STATS_PORT=%d\n", bound);
  std::fflush(stdout);
  bool ok = server.Listen();
  kill(getpid(), SIGTERM);  // ends the stopper thread if Listen ended on its own
  stopper.join();
  return ok ? 0 : 1;
}

int Import(const Options& o) {
  if (o.words.size() != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::ifstream in(o.words[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "zetora-stats: cannot read %s\n", o.words[1].c_str());
    return 1;
  }
  std::string error;
  std::unique_ptr<zstats::Store> store = zstats::OpenStore(Value(o, "db", "stats.sqlite"), &error);
  if (!store) {
    std::fprintf(stderr, "zetora-stats: %s\n", error.c_str());
    return 1;
  }
  in.seekg(0, std::ios::end);
  const double total_bytes = static_cast<double>(in.tellg());
  in.seekg(0);
  std::vector<zstats::Report> batch;
  int64_t imported = 0, rejected = 0, line_number = 0;
  auto last_progress = std::chrono::steady_clock::now();
  auto flush = [&]() {
    std::vector<const zstats::Report*> pointers;
    for (const zstats::Report& r : batch) pointers.push_back(&r);
    if (!pointers.empty() && !store->Apply(pointers, static_cast<int64_t>(std::time(nullptr)), &error)) return false;
    imported += static_cast<int64_t>(batch.size());
    batch.clear();
    return true;
  };
  std::string line;
  while (std::getline(in, line)) {
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    zstats::ParseResult parsed = zstats::ParseReportBody(line);
    if (!parsed.ok) {
      ++rejected;
      std::fprintf(stderr, "zetora-stats: %s:%lld: skipped: %s\n", o.words[1].c_str(), static_cast<long long>(line_number),
                   parsed.error.c_str());
      continue;
    }
    batch.push_back(std::move(parsed.report));
    if (batch.size() >= kImportBatch && !flush()) break;
    auto now = std::chrono::steady_clock::now();
    if (now - last_progress > std::chrono::seconds(1)) {
      last_progress = now;
      double done = total_bytes > 0 ? 100.0 * static_cast<double>(in.tellg()) / total_bytes : 100.0;
      std::fprintf(stderr, "zetora-stats: import %.0f%%: %lld reports\n", done, static_cast<long long>(imported));
    }
  }
  if (!error.empty() || !flush()) {
    std::fprintf(stderr, "zetora-stats: import stopped at line %lld: %s\n", static_cast<long long>(line_number), error.c_str());
    return 1;
  }
  std::fprintf(stderr, "zetora-stats: imported %lld reports, skipped %lld\n", static_cast<long long>(imported),
               static_cast<long long>(rejected));
  return rejected ? 3 : 0;
}

std::string ReadPassword() {
  bool tty = isatty(STDIN_FILENO);
  termios saved{};
  if (tty) {
    std::fprintf(stderr, "password: ");
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string password;
  std::getline(std::cin, password);
  if (tty) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

int Add(const Options& o) {
  if (o.words.size() != 3 || o.words[1] != "add" || o.words[2].find_first_of(" =[];#") != std::string::npos) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string config_path = Value(o, "config", "stats.ini");
  std::string error;
  if (o.words[0] == "user") {
    std::string password = ReadPassword();
    if (password.size() < 8) {
      std::fprintf(stderr, "zetora-stats: the password needs at least 8 characters\n");
      return 2;
    }
    if (!zstats::SetConfigEntry(config_path, "users", o.words[2], zstats::HashPassword(password), &error)) {
      std::fprintf(stderr, "zetora-stats: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "zetora-stats: user %s saved in %s\n", o.words[2].c_str(), config_path.c_str());
    return 0;
  }
  std::string token = zstats::RandomHex();
  if (!zstats::SetConfigEntry(config_path, "tokens", o.words[2], zstats::HashToken(token), &error)) {
    std::fprintf(stderr, "zetora-stats: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", token.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o) || o.words.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string& command = o.words[0];
  if (command == "serve") return Serve(o);
  if (command == "import") return Import(o);
  if (command == "user" || command == "token") return Add(o);
  std::fputs(kUsage, stderr);
  return 2;
}
