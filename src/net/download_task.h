#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "net/download_trace.h"
#include "net/http_types.h"

// The ranged multi-connection download of one URL into one file, as a polling
// state machine on the caller's thread. The bookkeeping (slots, splits,
// validation, back-off, completeness) lives here; the connections, the output
// file and the clock are reached through the interfaces below, so the same
// machine runs over WinINet and the real file manager in the product.

// What the task reads of a connection at each wait.
struct JobSnapshot {
  std::uint32_t position = 0;   // absolute offset of the next byte the job delivers
  std::uint32_t delivered = 0;  // body bytes passed to the file
  std::uint32_t speed = 0;      // bytes per second over the last 20 seconds
  std::uint32_t lastError = 0;  // 0 while the job runs and when its body ended normally
  std::uint32_t useRange = 0;
  std::uint32_t rangeLast = 0;
  std::uint32_t stopAtSet = 0;
  std::uint32_t stopAt = 0;
  // The response: status, Content-Length (0xFFFFFFFF when absent),
  // Content-Range, Last-Modified as FILETIME ticks (0 when absent).
  std::uint32_t status = 0;
  std::uint32_t contentLength = 0xFFFFFFFF;
  std::uint32_t rangeFirst = 0;
  std::uint32_t rangeEnd = 0;
  std::uint32_t rangeTotal = 0;
  std::uint64_t lastModified = 0;
  // Content-Length or the Content-Range total does not fit 32 bits: a file
  // this download cannot address (not the same as "no length").
  bool oversize = false;
  std::wstring serverAddressBefore;  // connected address before a redirect
  std::wstring serverAddressAfter;   // and after it
  std::wstring redirectUrl;          // empty when not redirected
  std::wstring hostHeader;           // the Host header the job sent
};

// Results of DownloadJobs::Wait: those of a request's Wait.
enum JobWait : int {
  kJobWaitFailed = net::kWaitFailed,
  kJobEnded = net::kWaitEnded,
  kJobResponse = net::kWaitResponse,
  kJobIdle = net::kWaitTimedOut,
};

// The connections of one download (the process-wide job table in the product).
class DownloadJobs {
 public:
  virtual ~DownloadJobs() = default;
  // Flags of Create. kWholeAnswerOk: a 200 answer to the ranged request is
  // taken as the whole file (the first request of a download).
  // kCloseConnection: the request asks the server to close the connection
  // after it ("Connection: close"), so that a job ended before its body is
  // read leaves nothing for the client to read off a kept connection.
  static constexpr std::uint32_t kWholeAnswerOk = 1;
  static constexpr std::uint32_t kCloseConnection = 2;
  // Starts a GET for url delivering into [first, last] of the file; returns
  // the job id.
  virtual std::uint32_t Create(const std::wstring& url, bool useRange, std::uint32_t first,
                               std::uint32_t last, std::uint32_t flags) = 0;
  // One of JobWait; 0 also when the id is not active. The snapshot is fresh
  // in every case but 0.
  virtual int Wait(std::uint32_t jobId, std::uint32_t timeoutMs, JobSnapshot* snapshot) = 0;
  virtual void SetStopAt(std::uint32_t jobId, std::uint32_t last) = 0;
  virtual void Close(std::uint32_t jobId) = 0;
};

// The first response as the output file stores it.
struct StoredResponse {
  std::uint32_t status = 0;
  std::uint32_t contentLength = 0xFFFFFFFF;
  std::uint32_t rangeTotal = 0;
  std::uint64_t lastModified = 0;
};

using ByteRanges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// ranges without the bytes [first, last]; order kept, cut ranges split.
ByteRanges SubtractRange(const ByteRanges& ranges, std::uint32_t first, std::uint32_t last);

// The output file of one download (the file manager in the product).
class DownloadFile {
 public:
  virtual ~DownloadFile() = default;
  virtual void DropQueued(bool all) = 0;
  virtual void AcceptJob(std::uint32_t jobId) = 0;
  virtual void SetResumeSupport(std::uint32_t value) = 0;
  virtual bool ResumeAllowed() = 0;
  // False when the file cannot take the size (the disk is full).
  virtual bool SetSize(std::uint32_t size, std::uint64_t lastModified) = 0;
  // Writes the queued blocks of accepted jobs; false when one could not be
  // written (its range stays missing).
  virtual bool Flush() = 0;
  // Bytes queued for writing (those of jobs not yet accepted included).
  virtual std::uint64_t QueuedBytes() { return 0; }
  // A file that can wake the task when enough is queued to be worth a write
  // (WaitForData returns then, or after timeoutMs). The task then only looks
  // at its connections and sleeps on the file instead.
  virtual bool SignalsData() { return false; }
  virtual void WaitForData(std::uint32_t timeoutMs) { (void)timeoutMs; }
  virtual bool LoadResume(ByteRanges* ranges, StoredResponse* response) = 0;
  virtual void SetRemaining(const ByteRanges& ranges) = 0;
  virtual ByteRanges Remaining() = 0;
  virtual std::uint32_t RemainingBytes() = 0;
  virtual std::uint32_t Written() = 0;
  virtual std::uint32_t Received() = 0;
  virtual bool IsComplete() = 0;
  virtual void Close() = 0;
};

// Time and randomness, injectable so tests run the back-off without waiting.
class DownloadEnvironment {
 public:
  virtual ~DownloadEnvironment() = default;
  // Milliseconds on a clock that never goes back and does not follow the
  // system clock when it is set: deadlines, the back-off and the polling
  // budget are measured on it.
  virtual std::uint64_t NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
  // A number from the cryptographic random source; false when it fails.
  virtual bool Random(std::uint32_t* value) = 0;
  virtual bool Cancelled() = 0;
  // Told when the download starts and stops retrying without bytes.
  virtual void ReportStalled(bool stalled) {}
};

// How long a download may go without receiving a byte. The silence counts
// across the downloads of a run: a download that starts after others
// received nothing carries their silence, so an offline run ends after one
// bound rather than one per file; each download still gets minAttemptMs of
// its own before it gives up.
struct StallPolicy {
  static constexpr std::uint32_t kDefaultLimitMs = 120000;
  std::uint32_t limitMs = kDefaultLimitMs;
  std::uint32_t minAttemptMs = kDefaultLimitMs / 8;
  // The user is told of the retries once this long passed without a byte.
  std::uint32_t noticeMs = 8000;
  // Silence carried over from the downloads before this one.
  std::uint32_t carriedMs = 0;
  // A policy for limitMs, with the attempt and notice scaled to it.
  static StallPolicy ForLimit(std::uint32_t limitMs, std::uint32_t carriedMs);
};

// Results of a download.
constexpr int kDownloadOk = 0;
constexpr int kDownloadFileFailed = 5;
constexpr int kDownloadCancelled = 1223;
constexpr int kDownloadWaitFailed = 1287;
constexpr int kDownloadTimedOut = 1460;
// The server announced a file of 4 GiB or more (ERROR_FILE_TOO_LARGE).
constexpr int kDownloadTooLarge = 223;

class DownloadTask {
 public:
  // One connection's check-out of the file: [first, last] is what its job
  // was asked for (last lowered when the slot was split). What is still
  // missing is always the file's remaining list; a slot never counts bytes.
  struct Slot {
    std::uint32_t jobId = 0;
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // inclusive; meaningless while openEnd is set
    bool openEnd = false;    // the first job before the size is known
    std::uint32_t flags = 0;
    std::uint32_t position = 0;  // the job's next byte, from its last snapshot
    // The job's bytes per second since it was started (0 until it is
    // kSpeedShownMs old), and when that was.
    std::uint32_t speed = 0;
    std::uint64_t startMs = 0;
    // The job asked for "Connection: close": only such a job may be cut
    // before the end of its range (see SplitBusiestSlot).
    bool mayCut = false;
  };
  static constexpr std::uint32_t kSlotStopLowered = 1;
  static constexpr std::uint32_t kSlotPending = 2;
  static constexpr std::uint32_t kSlotClosed = 4;
  static constexpr std::uint32_t kSlotEnded = 0x10;

  static constexpr std::uint32_t kConnectionBytes = 524288;  // one connection per 512 KiB
  static constexpr std::uint32_t kMaxConnections = 8;
  // Every request asks for a bounded range, a piece, so that each is read to
  // its end and none needs to be abandoned with much of its body unread.
  // The first asks for kFirstPieceBytes and learns the size from its
  // Content-Range (a 200 answer is the whole file over one connection).
  // Later pieces last about kPieceSeconds at the speed connections have
  // shown (kFirstPieceBytes before any), at most a connection's share of
  // what nobody has claimed yet, so that connections end together, and
  // within [kMinPieceBytes, kMaxPieceBytes]. Every request costs a round
  // trip and, under a fast link, more CPU than its bytes: on a link that
  // fills kPieceSeconds with tens of MB the share bounds a piece, and the
  // cap only keeps one mis-measured speed from claiming most of a file.
  static constexpr std::uint32_t kFirstPieceBytes = 1024 * 1024;
  static constexpr std::uint32_t kMinPieceBytes = 256 * 1024;
  static constexpr std::uint32_t kMaxPieceBytes = 64 * 1024 * 1024;
  static constexpr std::uint32_t kPieceSeconds = 2;
  // A running job shows its speed once it has run this long (a piece read
  // to its end shows it at once).
  static constexpr std::uint64_t kSpeedShownMs = 100;
  // A link is probed by the first piece: until kProbeMs after its response
  // (or its end, if sooner) at most kProbeConnections run. A first piece
  // whose body comes at kFastLinkBytesPerSecond or more is on a link that
  // one connection fills (a LAN, a local mirror: TCP's slow start keeps an
  // internet connection's first megabyte far below that), and more
  // connections would only cost CPU; such a download keeps one connection
  // with large pieces while it stays that fast, and gets the others back
  // when it slows. The probe costs a throttled download about kProbeMs of
  // its other connections.
  static constexpr std::uint64_t kProbeMs = 15;
  static constexpr std::uint32_t kProbeConnections = 2;
  static constexpr std::uint64_t kFastLinkBytesPerSecond = 40u * 1000 * 1000;
  static constexpr std::uint32_t kRetryDelaySeconds = 4;
  static constexpr std::uint64_t kRetryDelayMs = kRetryDelaySeconds * 1000;
  // A running connection's rest is shared with an idle one only from this
  // size on, and only when it would take longer than kSplitRestSeconds at
  // the connection's speed: smaller or quicker rests end sooner than a new
  // connection would fetch half of them.
  static constexpr std::uint32_t kMinSplitBytes = 131072;
  static constexpr std::uint32_t kSplitRestSeconds = kPieceSeconds;

  DownloadTask(DownloadJobs& jobs, DownloadFile& file, DownloadEnvironment& env,
               DownloadTrace& trace, const std::wstring& url);

  // Runs the download to its end. resumeLoaded: the caller's LoadResume
  // succeeded and its ranges and response are passed in. progress may be null.
  int Run(std::uint32_t timeoutSeconds, bool resumeLoaded, const ByteRanges& resumeRanges,
          const StoredResponse& resumeResponse, int* progress);

  void SetStallPolicy(const StallPolicy& policy) { stall_ = policy; }
  // The silence at the end of the run, counting what was carried in when no
  // byte arrived: what the next download of the run carries.
  std::uint32_t SilenceAtEndMs();

  const std::vector<Slot>& slots() const { return slots_; }
  std::uint32_t fileSize() const { return fileSize_; }
  std::uint32_t maxConnections() const { return maxConnections_; }

 private:
  enum State {
    kStart = 2,
    kWaitFirst = 3,
    kSplit = 4,
    kRunStep = 5,
    kCheck = 6,
    kRestartRanges = 7,
    kAbort = 8,
    kResumed = 11,
  };
  // WaitAny results beyond those of a single job.
  static constexpr int kNoSlot = 4;
  static constexpr int kNoJob = 5;
  static constexpr int kFlushFailed = 6;

  bool InRetryWindow();
  // Follows the bytes received; false when the download has gone without a
  // byte for longer than its stall policy allows.
  bool WithinStallBound();
  void BackOff();
  void CloseAllJobs();
  void StartFirstJob();
  void WaitFirstJob();
  void AcceptFirstResponse(std::uint32_t jobId, const JobSnapshot& snapshot);
  // Completes a download whose size was never announced, at the size the
  // single connection delivered; false when the file is not complete then.
  bool CompleteUnsized(const JobSnapshot& snapshot);
  // Splits the running slot that may be cut with the most bytes still to
  // deliver (at least kMinSplitBytes, and more than kSplitRestSeconds at its
  // speed) at the middle of that rest; false when none has.
  bool SplitBusiestSlot();
  // Adds up to count pending slots for pieces of the unclaimed ranges, then
  // splits running slots while connections are left; returns how many.
  std::uint32_t ClaimPieces(std::uint32_t count);
  // How many connections the link gets now (see kProbeMs).
  std::uint32_t ConnectionCap() const;
  void UpdateLink();
  void JudgeLink(std::uint64_t bodyBytes, std::uint64_t elapsedMs);
  // The size of the next piece while unclaimed bytes are left, and whether
  // the piece is among the last ones (then it may be cut).
  std::uint32_t PieceBytes(std::uint64_t unclaimed, bool* endPiece) const;
  std::uint32_t ActiveJobs() const;
  std::uint32_t JobSpeed(const Slot& slot, const JobSnapshot& snapshot) const;
  // Drops the slots whose jobs were closed.
  void PruneSlots();
  // Lowers slot index to end before the middle of [from, its last] and adds
  // a pending slot for the upper half; false when the rest is too short.
  bool SplitSlotAt(std::size_t index, std::uint32_t from);
  void StartPendingSlots();
  std::wstring NextJobUrl();
  int WaitAny(std::uint32_t budgetMs, std::size_t* slotIndex, JobSnapshot* snapshot,
              std::uint32_t* active, std::uint32_t* speed);
  void RunStep();
  void OnIdle(std::uint32_t active, std::uint32_t speed);
  void AddJobsByRanges(std::uint32_t count);
  void OnLaterResponse(std::size_t slotIndex, const JobSnapshot& snapshot);
  void TraceMismatch(const JobSnapshot& snapshot, std::uint32_t active);
  // A piece answered with the whole file of the known size and date: that
  // job becomes the one connection and the others end. False when that
  // does not apply.
  bool KeepWholeAnswerAlone(std::size_t slotIndex, const JobSnapshot& snapshot);
  void OnJobEnded(std::size_t slotIndex, const JobSnapshot& snapshot);
  void Check();
  void RestartRanges();
  void Resumed(const ByteRanges& ranges, const StoredResponse& response);
  void Finish();
  // Ends the download at once with result.
  void Fail(int result);
  // The bytes a live slot has checked out; false for an open end while the
  // size is unknown.
  bool SlotRange(const Slot& slot, std::uint32_t* first, std::uint32_t* last) const;
  // Remaining ranges that no live slot has checked out.
  ByteRanges UnclaimedRanges();

  DownloadJobs& jobs_;
  DownloadFile& file_;
  DownloadEnvironment& env_;
  DownloadTrace& trace_;
  const std::wstring url_;

  std::vector<Slot> slots_;
  std::uint32_t fileSize_ = 0;
  std::uint32_t firstJob_ = 0;
  int state_ = kStart;
  StoredResponse response_;
  // The size and date of the version whose bytes the file holds (0 before
  // any): bytes of another version are never completed with new ones.
  std::uint32_t heldSize_ = 0;
  std::uint64_t heldLastModified_ = 0;
  std::uint32_t maxConnections_ = kMaxConnections;
  // Monotonic milliseconds (DownloadEnvironment::NowMs). The retry window
  // is open while retryAtMs_ is not past; 0 = never opened.
  std::uint64_t retryAtMs_ = 0;
  std::uint64_t deadlineMs_ = 0;
  std::uint64_t startMs_ = 0;
  std::wstring jobUrl_;
  std::wstring firstAddresses_;  // "before:after" of the first job
  int result_ = kDownloadOk;
  bool done_ = false;
  std::uint32_t receivedAtFirstJob_ = 0;  // the file's received count when the first job started
  // The next first request asks for the whole file without a range: the
  // server refused the bounded one (416, or a 206 without a total).
  bool firstUnranged_ = false;
  // A request after the first was answered with its range: until then one
  // piece at a time is asked for besides the first.
  bool rangesConfirmed_ = false;
  // Bytes per second of the last piece read to its end (0: none yet).
  std::uint64_t lastPieceSpeed_ = 0;
  enum LinkJudgement { kLinkProbing, kLinkFast, kLinkShared };
  LinkJudgement link_ = kLinkProbing;
  std::uint64_t firstResponseMs_ = 0;
  int* progress_ = nullptr;
  StallPolicy stall_;
  std::uint32_t lastReceived_ = 0;
  std::uint64_t lastByteMs_ = 0;  // monotonic, when the last byte arrived
  bool anyByte_ = false;
  bool stalled_ = false;
};

// The URL a resume record is matched on: the download URL without the
// cache-busting "rnd" query parameter the installer appends on every run, so
// that an interrupted package download continues in the next run.
std::wstring ResumeIdentityUrl(const std::wstring& url);
