#include "sys/background_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(BackgroundCall, ResultWhenItEndsInTime) {
  BackgroundCall<int> call([] { return 42; });
  EXPECT_EQ(call.WaitUntil(steady_clock::now() + milliseconds(5000)), 42);
}

TEST(BackgroundCall, ACallThatDoesNotEndIsLeftBehindAtTheDeadline) {
  std::atomic<bool> release(false);
  std::atomic<bool> ended(false);
  {
    BackgroundCall<int> call([&] {
      while (!release) std::this_thread::sleep_for(milliseconds(1));
      ended = true;
      return 1;
    });
    const auto start = steady_clock::now();
    EXPECT_FALSE(call.WaitUntil(start + milliseconds(100)).has_value());
    const auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(100));
    EXPECT_LT(waited, milliseconds(2000));
  }
  // The abandoned call still ends safely after its caller is gone.
  release = true;
  while (!ended) std::this_thread::sleep_for(milliseconds(1));
  std::this_thread::sleep_for(milliseconds(20));
}

}  // namespace
