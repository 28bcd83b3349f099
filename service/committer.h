// Group commit: reports that arrive together are folded into the store in
// one transaction, and each caller is answered only after that commit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "store.h"

namespace zstats {

class Committer {
 public:
  // Batches hold up to `max_batch` reports. `retention_seconds` > 0 deletes
  // runs older than that, a batch at a time between commits, so ingest is
  // never held up by a long delete.
  Committer(Store* store, size_t max_batch, int64_t retention_seconds);
  ~Committer();
  Committer(const Committer&) = delete;
  Committer& operator=(const Committer&) = delete;

  // Blocks until the report is durably stored (true) or its transaction
  // failed (false, `error` says why).
  bool Submit(const Report& report, std::string* error);

  // Clock of the reports' receive times (tests set it).
  void SetClock(std::function<int64_t()> now) { now_ = std::move(now); }

 private:
  // One caller's report. Each caller waits on its own condition, so a
  // commit wakes only the callers of its batch, not every one waiting.
  struct Pending {
    const Report* report = nullptr;
    bool done = false;
    bool ok = false;
    std::string error;
    std::condition_variable finished;
  };
  void Run();
  void MaybeRetire();

  Store* store_;
  const size_t max_batch_;
  const int64_t retention_seconds_;
  std::function<int64_t()> now_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::deque<Pending*> queue_;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point next_retire_;
  std::thread thread_;
};

}  // namespace zstats
