#pragma once

// Runs a function on a thread of its own so that the caller can wait for its
// result with a bound. A call still running when the caller stops waiting
// ends on its own; its result is then dropped.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "sys/lock.h"

template <typename T>
class BackgroundCall {
 public:
  explicit BackgroundCall(std::function<T()> work) : state_(std::make_shared<State>()) {
    // The thread shares the state, so it may outlive this object.
    std::shared_ptr<State> state = state_;
    try {
      std::thread([state, work]() {
        T result = work();
        AutoLock lock(state->lock);
        state->result = std::move(result);
        state->done.NotifyAll();
      }).detach();
    } catch (const std::system_error&) {
      // No thread: the call never answers, and WaitUntil gives nothing.
    }
  }
  BackgroundCall(const BackgroundCall&) = delete;
  BackgroundCall& operator=(const BackgroundCall&) = delete;

  // The result when the call has ended by the deadline; nothing otherwise.
  std::optional<T> WaitUntil(std::chrono::steady_clock::time_point deadline) {
    AutoLock lock(state_->lock);
    state_->done.WaitUntil(state_->lock, deadline, [this] { return state_->result.has_value(); });
    return state_->result;
  }

 private:
  struct State {
    Lock lock;
    Condition done;
    std::optional<T> result;
  };
  std::shared_ptr<State> state_;
};
