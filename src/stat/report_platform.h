#pragma once

#include <cstdint>
#include <string>

// The statistics server: host name and HTTP port.
struct StatServer {
  std::wstring host;
  std::uint16_t port = 80;
};

// What one upload attempt ended with.
struct PostOutcome {
  // 0: the session could not be opened; 1: the connection failed; 4: opening
  // or sending the request failed; 5: sent, but the status was not 200;
  // 6: success.
  int stage = 0;
  std::uint32_t lastError = 0;
  int status = 0;  // HTTP status; 0 when none was obtained
  bool succeeded() const { return stage == 6; }
};

// Posts one multipart form to the statistics server. timeoutMs bounds each
// of the connect, send and receive phases.
class ReportSender {
 public:
  virtual ~ReportSender() = default;
  virtual PostOutcome Post(const StatServer& server, const std::string& form,
                           std::uint32_t timeoutMs) = 0;
};

enum class SignalWait { kSignalled, kTimedOut, kFailed };

// The threading and time services of the report queue: a lock, a counting
// signal, one worker thread, pauses and clocks.
class ReportPlatform {
 public:
  virtual ~ReportPlatform() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // Adds count to the signal.
  virtual void Signal(long count) = 0;
  // Takes one unit of the signal, waiting at most timeoutMs.
  virtual SignalWait WaitSignal(std::uint32_t timeoutMs) = 0;
  // Runs body(argument) on the worker thread.
  virtual bool StartWorker(void (*body)(void*), void* argument) = 0;
  // Waits at most timeoutMs for the worker to end; true when it has ended.
  virtual bool JoinWorker(std::uint32_t timeoutMs) = 0;
  virtual void Pause(std::uint32_t ms) = 0;
  // Wall-clock seconds since 1970.
  virtual std::uint32_t UnixSeconds() = 0;
  // A millisecond tick for measuring intervals (wraps; use differences).
  virtual std::uint32_t TickMs() = 0;
};
