#include "committer.h"

#include <cstdio>
#include <ctime>
#include <vector>

namespace zstats {
namespace {
constexpr int64_t kRetireBatch = 2000;
constexpr auto kRetirePause = std::chrono::seconds(30);
}  // namespace

Committer::Committer(Store* store, size_t max_batch, int64_t retention_seconds)
    : store_(store),
      max_batch_(max_batch),
      retention_seconds_(retention_seconds),
      now_([] { return static_cast<int64_t>(std::time(nullptr)); }),
      next_retire_(std::chrono::steady_clock::now()),
      thread_([this] { Run(); }) {}

Committer::~Committer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  thread_.join();
}

bool Committer::Submit(const Report& report, std::string* error) {
  Pending pending;
  pending.report = &report;
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) {
    *error = "service is stopping";
    return false;
  }
  queue_.push_back(&pending);
  work_.notify_one();
  pending.finished.wait(lock, [&] { return pending.done; });
  if (!pending.ok) *error = pending.error;
  return pending.ok;
}

void Committer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait_for(lock, kRetirePause, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) {
      if (stopping_) return;
      lock.unlock();
      MaybeRetire();
      lock.lock();
      continue;
    }
    // Everything that queued while the last commit was syncing goes into
    // this one.
    std::vector<Pending*> batch;
    while (!queue_.empty() && batch.size() < max_batch_) {
      batch.push_back(queue_.front());
      queue_.pop_front();
    }
    lock.unlock();
    std::vector<const Report*> reports;
    reports.reserve(batch.size());
    for (Pending* p : batch) reports.push_back(p->report);
    std::string error;
    bool ok = store_->Apply(reports, now_(), &error);
    if (!ok) std::fprintf(stderr, "zetora-stats: commit of %zu reports failed: %s\n", batch.size(), error.c_str());
    lock.lock();
    for (Pending* p : batch) {
      p->ok = ok;
      p->error = error;
      p->done = true;
      p->finished.notify_one();
    }
    lock.unlock();
    MaybeRetire();
    lock.lock();
  }
}

void Committer::MaybeRetire() {
  if (retention_seconds_ <= 0 || std::chrono::steady_clock::now() < next_retire_) return;
  std::string error;
  int64_t deleted = store_->DeleteOlderThan(now_() - retention_seconds_, kRetireBatch, &error);
  if (deleted < 0) std::fprintf(stderr, "zetora-stats: retention: %s\n", error.c_str());
  // A full batch means more are waiting: the next one goes after the next
  // commit; otherwise look again later.
  next_retire_ = std::chrono::steady_clock::now() + (deleted == kRetireBatch ? std::chrono::seconds(0) : kRetirePause);
}

}  // namespace zstats
