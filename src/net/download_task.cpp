#include "net/download_task.h"

#include <algorithm>

#include "sys/diag.h"
#include "sys/text_format.h"

namespace {

constexpr std::uint32_t kNoLength = 0xFFFFFFFF;
constexpr std::uint32_t kRunBudgetMs = 400;
constexpr std::uint32_t kPollMs = 10;
constexpr std::uint64_t kBusyQueueBytes = 1024 * 1024;

bool IsRealSize(std::uint32_t size) { return size != 0 && size != kNoLength; }

// bytes over elapsedMs (at least 1 ms), in bytes per second.
std::uint64_t BytesPerSecond(std::uint64_t bytes, std::uint64_t elapsedMs) {
  return bytes * 1000 / std::max<std::uint64_t>(1, elapsedMs);
}

// One connection per whole 512 KiB of file, at least one and at most the
// task's limit: a fresh and a resumed run of one file open as many.
std::uint32_t ConnectionsFor(std::uint32_t length) {
  return std::max(1u, std::min(DownloadTask::kMaxConnections,
                               length / DownloadTask::kConnectionBytes));
}

void* JobTag(std::uint32_t jobId) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(jobId)); }

bool Overlaps(const ByteRanges& ranges, std::uint32_t first, std::uint32_t last) {
  for (const auto& range : ranges) {
    if (range.first <= last && first <= range.second) return true;
  }
  return false;
}

}  // namespace

ByteRanges SubtractRange(const ByteRanges& ranges, std::uint32_t first, std::uint32_t last) {
  ByteRanges out;
  for (const auto& range : ranges) {
    if (range.second < first || range.first > last) {
      out.push_back(range);
      continue;
    }
    if (range.first < first) out.emplace_back(range.first, first - 1);
    if (range.second > last) out.emplace_back(last + 1, range.second);
  }
  return out;
}

std::wstring ResumeIdentityUrl(const std::wstring& url) {
  const std::size_t query = url.find(L'?');
  if (query == std::wstring::npos) return url;
  const std::size_t fragment = url.find(L'#', query);
  const std::wstring head = url.substr(0, query);
  const std::wstring tail = fragment == std::wstring::npos ? L"" : url.substr(fragment);
  const std::wstring params =
      url.substr(query + 1, (fragment == std::wstring::npos ? url.size() : fragment) - query - 1);
  std::wstring kept;
  std::size_t start = 0;
  while (start <= params.size()) {
    std::size_t end = params.find(L'&', start);
    if (end == std::wstring::npos) end = params.size();
    const std::wstring param = params.substr(start, end - start);
    const bool isRnd = param == L"rnd" || param.compare(0, 4, L"rnd=") == 0;
    if (!param.empty() && !isRnd) {
      if (!kept.empty()) kept += L'&';
      kept += param;
    }
    start = end + 1;
  }
  return kept.empty() ? head + tail : head + L"?" + kept + tail;
}

DownloadTask::DownloadTask(DownloadJobs& jobs, DownloadFile& file, DownloadEnvironment& env,
                           DownloadTrace& trace, const std::wstring& url)
    : jobs_(jobs), file_(file), env_(env), trace_(trace), url_(url) {}

int DownloadTask::Run(std::uint32_t timeoutSeconds, bool resumeLoaded,
                      const ByteRanges& resumeRanges, const StoredResponse& resumeResponse,
                      int* progress) {
  progress_ = progress;
  startMs_ = env_.NowMs();
  lastByteMs_ = startMs_;
  lastReceived_ = file_.Received();
  deadlineMs_ = startMs_ + std::uint64_t{timeoutSeconds} * 1000;
  state_ = resumeLoaded ? kResumed : kStart;
  trace_.Record(0, L"ds", 0, resumeLoaded ? 1 : 0);
  if (progress_ != nullptr) *progress_ = 1;

  while (!done_) {
    if (env_.NowMs() > deadlineMs_) {
      result_ = kDownloadTimedOut;
      trace_.Record(state_, L"ato");
      DiagPrintf(L"ERROR_TIMEOUT total time \r\n");
      break;
    }
    if (env_.Cancelled()) {
      result_ = kDownloadCancelled;
      trace_.Record(state_, L"atc");
      DiagPrintf(L"ERROR_USER_CANCELLED total time \r\n");
      break;
    }
    if (!WithinStallBound()) {
      result_ = kDownloadTimedOut;
      trace_.Record(state_, L"asl", static_cast<std::uint32_t>((env_.NowMs() - lastByteMs_) / 1000));
      DiagPrintf(L"ERROR_TIMEOUT no byte received \r\n");
      break;
    }
    switch (state_) {
      case kStart:
        file_.DropQueued(true);
        if (InRetryWindow()) {
          trace_.Record(state_, L"ste");
          env_.SleepMs(1000);
        } else {
          StartFirstJob();
        }
        break;
      case kWaitFirst:
        WaitFirstJob();
        break;
      case kSplit:
        // The other connections start with pieces of the rest. A server
        // that answered a ranged request inconsistently gets one
        // connection: more ranged requests would only fail again.
        if (file_.ResumeAllowed() && ClaimPieces(maxConnections_ - ActiveJobs()) != 0) {
          StartPendingSlots();
        }
        trace_.Record(state_, L"sc");
        state_ = kRunStep;
        break;
      case kRunStep:
        RunStep();
        break;
      case kCheck:
        Check();
        break;
      case kRestartRanges:
        RestartRanges();
        break;
      case kResumed:
        Resumed(resumeRanges, resumeResponse);
        break;
      case kAbort:
      default:
        result_ = kDownloadCancelled;
        CloseAllJobs();
        trace_.Record(state_, L"abt");
        DiagPrintf(L"E_DOWN_ABORT \r\n");
        done_ = true;
        break;
    }
  }
  Finish();
  return result_;
}

StallPolicy StallPolicy::ForLimit(std::uint32_t limitMs, std::uint32_t carriedMs) {
  StallPolicy policy;
  policy.limitMs = limitMs;
  policy.minAttemptMs = limitMs / 8;
  policy.noticeMs = std::min(policy.noticeMs, limitMs / 4);
  policy.carriedMs = carriedMs;
  return policy;
}

bool DownloadTask::WithinStallBound() {
  const std::uint64_t now = env_.NowMs();
  const std::uint32_t received = file_.Received();
  if (received != lastReceived_) {
    lastReceived_ = received;
    lastByteMs_ = now;
    anyByte_ = true;
    if (stalled_) {
      stalled_ = false;
      env_.ReportStalled(false);
      trace_.Record(state_, L"stle");
    }
    return true;
  }
  const std::uint64_t silentMs = now - lastByteMs_;
  if (!stalled_ && silentMs >= stall_.noticeMs) {
    stalled_ = true;
    env_.ReportStalled(true);
    trace_.Record(state_, L"stl", static_cast<std::uint32_t>(silentMs / 1000));
  }
  const std::uint64_t runSilenceMs = silentMs + (anyByte_ ? 0 : stall_.carriedMs);
  return runSilenceMs < stall_.limitMs || silentMs < stall_.minAttemptMs;
}

std::uint32_t DownloadTask::SilenceAtEndMs() {
  if (result_ == kDownloadOk) return 0;
  const std::uint64_t silence = env_.NowMs() - lastByteMs_ + (anyByte_ ? 0 : stall_.carriedMs);
  return silence > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(silence);
}

bool DownloadTask::InRetryWindow() {
  const std::uint64_t now = env_.NowMs();
  if (retryAtMs_ == 0 || retryAtMs_ < now) return false;
  DiagPrintf(L"DelayRetry left=%ds\r\n", static_cast<int>((retryAtMs_ - now + 999) / 1000));
  return true;
}

void DownloadTask::BackOff() {
  CloseAllJobs();
  retryAtMs_ = env_.NowMs() + kRetryDelayMs;
  state_ = kStart;
}

void DownloadTask::CloseAllJobs() {
  file_.DropQueued(false);
  for (Slot& slot : slots_) {
    if (slot.jobId == 0) continue;
    jobs_.Close(slot.jobId);
    slot.jobId = 0;
    slot.flags |= kSlotClosed;
  }
}

void DownloadTask::StartFirstJob() {
  jobUrl_.clear();
  slots_.clear();
  receivedAtFirstJob_ = file_.Received();
  // A bounded first piece: the answer tells the size, and the request is
  // read to its end whatever the size turns out to be (a server that does
  // not honour ranges answers with the whole file).
  firstJob_ = !firstUnranged_ ? jobs_.Create(url_, true, 0, kFirstPieceBytes - 1,
                                    DownloadJobs::kWholeAnswerOk)
                              : jobs_.Create(url_, false, 0, 0, 0);
  slots_.push_back(Slot{firstJob_, 0, 0, true, 0, 0});
  slots_.back().startMs = env_.NowMs();
  trace_.Record(state_, L"sts");
  trace_.Record(state_, L"cofm", file_.Received());
  state_ = kWaitFirst;
}

void DownloadTask::WaitFirstJob() {
  JobSnapshot snapshot;
  const int wait = jobs_.Wait(firstJob_, 1000, &snapshot);
  if (wait == kJobEnded || wait == kJobResponse) {
    firstAddresses_ = snapshot.serverAddressBefore + L":" + snapshot.serverAddressAfter;
    jobUrl_ = snapshot.redirectUrl;
  }
  if ((wait == kJobEnded || wait == kJobResponse) && snapshot.oversize) {
    DiagPrintf(L"WaitFirstJob size beyond 4 GiB\r\n");
    Fail(kDownloadTooLarge);
    return;
  }
  switch (wait) {
    case kJobWaitFailed:
      env_.SleepMs(1000);
      BackOff();
      trace_.Record(kWaitFirst, L"wlih");
      return;
    case kJobEnded: {
      // The job ended before its response was seen: a small file that arrived
      // whole, or a body without Content-Length that ended normally.
      if (!slots_.empty()) slots_[0].flags |= kSlotEnded;
      const bool wholePiece = snapshot.status == 206 && snapshot.rangeFirst == 0 &&
                              IsRealSize(snapshot.rangeTotal) &&
                              snapshot.delivered == snapshot.rangeTotal;
      const bool whole = !IsRealSize(fileSize_) &&
                         (wholePiece || (snapshot.status == 200 &&
                                         (snapshot.contentLength == snapshot.delivered ||
                                          (snapshot.contentLength == kNoLength &&
                                           snapshot.lastError == 0))));
      if (whole) {
        response_ = StoredResponse{snapshot.status, snapshot.contentLength, snapshot.rangeTotal,
                                   snapshot.lastModified};
        AcceptFirstResponse(firstJob_, snapshot);
        // Without a size (no Content-Length, or 0) the file is what arrived.
        if (!IsRealSize(snapshot.contentLength) && !CompleteUnsized(snapshot)) BackOff();
        return;
      }
      BackOff();
      trace_.Record(kWaitFirst, L"wlej");
      return;
    }
    case kJobResponse:
      DiagPrintf(L"WaitFirstJob E_WAITDOWNJOB_SVRRESP First\r\n");
      if ((snapshot.status == 206 && !IsRealSize(snapshot.rangeTotal)) ||
          (snapshot.status == 416 && !firstUnranged_)) {
        // The bounded first request was refused (an empty file has no byte
        // 0) or told no size: the whole file is asked for instead, at once.
        firstUnranged_ = true;
        CloseAllJobs();
        state_ = kStart;
        DiagPrintf(L"WaitFirstJob range refused (%u): asking for the whole file\r\n",
                   snapshot.status);
      } else if (snapshot.status == 200 || snapshot.status == 206) {
        response_ = StoredResponse{snapshot.status, snapshot.contentLength, snapshot.rangeTotal,
                                   snapshot.lastModified};
        AcceptFirstResponse(firstJob_, snapshot);
      } else if (snapshot.status >= 400 && snapshot.status <= 499) {
        trace_.Record(kWaitFirst, L"wlrha", snapshot.status);
        state_ = kAbort;
      } else {
        retryAtMs_ = env_.NowMs() + kRetryDelayMs;
        CloseAllJobs();
        trace_.Record(kWaitFirst, L"wlrrs", snapshot.status);
        state_ = kStart;
      }
      return;
    case kJobIdle:
      trace_.Record(kWaitFirst, L"wlid");
      DiagPrintf(L"WaitFirstJob IDLE %dBytes\r", static_cast<int>(file_.Received()));
      return;
    case kNoJob:
      env_.SleepMs(1000);
      BackOff();
      trace_.Record(kWaitFirst, L"wlnw");
      return;
    default:
      state_ = kAbort;
      trace_.Record(kWaitFirst, L"wlraa");
      return;
  }
}

void DownloadTask::AcceptFirstResponse(std::uint32_t jobId, const JobSnapshot& snapshot) {
  file_.AcceptJob(jobId);
  firstResponseMs_ = env_.NowMs();
  // A 206 tells the size in its Content-Range; a 200 is the whole file.
  const bool partial = snapshot.status == 206;
  const std::uint32_t length = partial ? snapshot.rangeTotal : snapshot.contentLength;
  if ((partial || snapshot.status == 200) && IsRealSize(length)) {
    fileSize_ = length;
    maxConnections_ = std::min(maxConnections_, ConnectionsFor(length));
    if (!file_.SetSize(length, snapshot.lastModified)) {
      Fail(kDownloadFileFailed);
      return;
    }
    // The file changed on the server since the held bytes arrived (another
    // size or date, as after a restart or in a resumed run): every byte is
    // fetched again, so old and new are never spliced.
    if (length != heldSize_ || snapshot.lastModified != heldLastModified_) {
      file_.SetRemaining({{0, length - 1}});
      heldSize_ = length;
      heldLastModified_ = snapshot.lastModified;
    }
    // A ranged request answered with the whole file: the server does not
    // honour ranges, and this one connection fetches the file.
    if (!partial && slots_.size() == 1 && !firstUnranged_) {
      file_.SetResumeSupport(2);
      DiagPrintf(L"RangeIgnored: the first connection fetches the whole file\r\n");
    }
    state_ = kSplit;
    trace_.Record(kWaitFirst, L"wlrc");
    if (!slots_.empty()) {
      slots_[0].openEnd = false;
      slots_[0].first = partial ? snapshot.rangeFirst : 0;
      slots_[0].last = partial ? std::min(snapshot.rangeEnd, length - 1) : length - 1;
      // A job that already ended has nothing left to split.
      if (slots_[0].flags & kSlotEnded) state_ = kRunStep;
    }
  } else {
    state_ = kRunStep;
    trace_.Record(kWaitFirst, L"wlrs");
  }
}

bool DownloadTask::CompleteUnsized(const JobSnapshot& snapshot) {
  // Chunks dropped at the memory cap were delivered but never queued; then
  // the delivered size is not the file.
  if (file_.Received() - receivedAtFirstJob_ != snapshot.delivered) {
    DiagPrintf(L"CompleteUnsized dropped %u of %u\r\n",
               snapshot.delivered - (file_.Received() - receivedAtFirstJob_), snapshot.delivered);
    return false;
  }
  fileSize_ = snapshot.delivered;
  if (fileSize_ == 0) {
    file_.SetRemaining(ByteRanges());
  } else if (!file_.SetSize(fileSize_, snapshot.lastModified) || !file_.Flush()) {
    Fail(kDownloadFileFailed);
    return true;
  }
  state_ = kCheck;
  DiagPrintf(L"CompleteUnsized size=%u\r\n", fileSize_);
  return true;
}

bool DownloadTask::SplitSlotAt(std::size_t index, std::uint32_t from) {
  Slot& slot = slots_[index];
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  if (!SlotRange(slot, &first, &last)) return false;
  const std::uint32_t mid = from / 2 + last / 2;
  // A rest of one or two bytes cannot give both halves a byte.
  if (mid <= from || mid > last) return false;
  slot.last = mid - 1;
  slot.openEnd = false;
  slot.flags |= kSlotStopLowered;
  slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                Slot{0, mid, last, false, kSlotPending, mid});
  return true;
}

bool DownloadTask::SplitBusiestSlot() {
  std::size_t chosen = slots_.size();
  std::uint32_t chosenStart = 0;
  std::uint64_t largest = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    if (slot.jobId == 0 || !slot.mayCut ||
        (slot.flags & (kSlotClosed | kSlotEnded | kSlotPending))) {
      continue;
    }
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    if (!SlotRange(slot, &first, &last)) continue;
    // What the job has not delivered yet.
    const std::uint32_t start = std::max(first, slot.position);
    if (start > last) continue;
    const std::uint64_t rest = static_cast<std::uint64_t>(last) - start + 1;
    // A job too young to have shown its speed is left alone.
    if (env_.NowMs() - slot.startMs < kSpeedShownMs) continue;
    const bool slow = rest > std::uint64_t{slot.speed} * kSplitRestSeconds;
    if (rest >= kMinSplitBytes && slow && rest > largest) {
      chosen = i;
      chosenStart = start;
      largest = rest;
    }
  }
  if (chosen == slots_.size()) return false;
  return SplitSlotAt(chosen, chosenStart);
}

std::uint32_t DownloadTask::PieceBytes(std::uint64_t unclaimed, bool* endPiece) const {
  // The link: what one connection fetched per second in the last piece that
  // ended, else on average in the running ones old enough to show it.
  std::uint64_t perConnection = lastPieceSpeed_;
  if (perConnection == 0) {
    std::uint64_t speedSum = 0;
    std::uint32_t measured = 0;
    const std::uint64_t now = env_.NowMs();
    for (const Slot& slot : slots_) {
      if (slot.jobId == 0 || (slot.flags & (kSlotClosed | kSlotEnded))) continue;
      if (now - slot.startMs < kSpeedShownMs || slot.speed == 0) continue;
      speedSum += slot.speed;
      ++measured;
    }
    if (measured != 0) perConnection = speedSum / measured;
  }
  const std::uint64_t link =
      perConnection != 0 ? perConnection * kPieceSeconds : std::uint64_t{kFirstPieceBytes};
  // Pieces are shared out among the connections the link will get, not
  // the fewer that run while it is probed.
  const std::uint32_t connections = link_ == kLinkFast ? 1u : maxConnections_;
  const std::uint64_t share = (unclaimed + connections - 1) / connections;
  // A link judged fast has shown its speed over a whole piece: its pieces
  // are sized to it alone, each request's round trip saved.
  const std::uint64_t cap = link_ == kLinkFast ? std::uint64_t{0xFFFFFFFFu} : kMaxPieceBytes;
  const std::uint64_t bytes = std::max<std::uint64_t>(
      kMinPieceBytes, std::min<std::uint64_t>(cap, std::min(link, share)));
  // One of the last pieces (what is left fits in one piece per connection),
  // or a piece that takes longer than kPieceSeconds (a link slower than the
  // smallest piece): such a piece may have to be shared at the end.
  *endPiece = share <= bytes || bytes > link;
  return static_cast<std::uint32_t>(bytes);
}

std::uint32_t DownloadTask::ClaimPieces(std::uint32_t count) {
  // Until a later request was answered with its range, one piece is asked
  // for besides the first: a server that answers ranges with the whole file
  // then sends it to one connection, not to every one (each such answer
  // cut would be read to its end when its handle closes).
  if (!rangesConfirmed_) {
    std::uint32_t ranged = 0;
    for (const Slot& slot : slots_) {
      if (slot.jobId != 0 && slot.jobId != firstJob_ && !(slot.flags & kSlotEnded)) ++ranged;
    }
    count = std::min(count, ranged == 0 ? 1u : 0u);
  }
  ByteRanges unclaimed = UnclaimedRanges();
  std::uint64_t left = 0;
  for (const auto& range : unclaimed) left += std::uint64_t{range.second} - range.first + 1;
  std::uint32_t added = 0;
  std::size_t next = 0;
  while (added < count && next < unclaimed.size()) {
    auto& range = unclaimed[next];
    bool endPiece = false;
    const std::uint32_t piece = PieceBytes(left, &endPiece);
    const std::uint64_t length =
        std::min<std::uint64_t>(piece, std::uint64_t{range.second} - range.first + 1);
    const std::uint32_t last = static_cast<std::uint32_t>(range.first + length - 1);
    Slot slot{0, range.first, last, false, kSlotPending, range.first};
    slot.mayCut = endPiece;
    slots_.push_back(slot);
    left -= length;
    ++added;
    if (last == range.second) {
      ++next;
    } else {
      range.first = last + 1;
    }
  }
  // Nothing unclaimed is left but connections are idle: the tail of the
  // download would run on the slowest connections alone, so the largest
  // slow rest of a running slot is split and its upper half gets a
  // connection.
  while (added < count && SplitBusiestSlot()) ++added;
  return added;
}

std::uint32_t DownloadTask::JobSpeed(const Slot& slot, const JobSnapshot& snapshot) const {
  const std::uint64_t age = env_.NowMs() - slot.startMs;
  if (age < kSpeedShownMs) return 0;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(0xFFFFFFFFu, BytesPerSecond(snapshot.delivered, age)));
}

std::uint32_t DownloadTask::ActiveJobs() const {
  std::uint32_t active = 0;
  for (const Slot& slot : slots_) {
    if (slot.jobId != 0 && !(slot.flags & kSlotEnded)) ++active;
  }
  return active;
}

void DownloadTask::PruneSlots() {
  slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                              [](const Slot& slot) {
                                return slot.jobId == 0 && (slot.flags & kSlotClosed) &&
                                       !(slot.flags & kSlotPending);
                              }),
               slots_.end());
}

std::wstring DownloadTask::NextJobUrl() {
  if (jobUrl_.empty()) return url_;
  std::uint32_t random = 0;
  if (!env_.Random(&random)) return jobUrl_;
  // A target that has a query already (a signed link) keeps it intact.
  const wchar_t* separator = jobUrl_.find(L'?') == std::wstring::npos ? L"?rnd=" : L"&rnd=";
  return jobUrl_ + separator + DecimalText(random);
}

void DownloadTask::StartPendingSlots() {
  for (Slot& slot : slots_) {
    if (!(slot.flags & kSlotStopLowered)) continue;
    slot.flags &= ~kSlotStopLowered;
    if (slot.jobId != 0) jobs_.SetStopAt(slot.jobId, slot.last);
  }
  for (Slot& slot : slots_) {
    if (!(slot.flags & kSlotPending)) continue;
    slot.flags &= ~kSlotPending;
    slot.startMs = env_.NowMs();
    // A piece answered with the whole file is kept as the one connection
    // (see KeepWholeAnswerAlone) rather than cut and read off.
    slot.jobId = jobs_.Create(NextJobUrl(), true, slot.first, slot.last,
                              DownloadJobs::kWholeAnswerOk |
                                  (slot.mayCut ? DownloadJobs::kCloseConnection : 0));
  }
}

int DownloadTask::WaitAny(std::uint32_t budgetMs, std::size_t* slotIndex, JobSnapshot* snapshot,
                          std::uint32_t* active, std::uint32_t* speed) {
  *active = 0;
  *speed = 0;
  if (slots_.empty()) return kNoSlot;
  const std::uint64_t start = env_.NowMs();
  // Blocks wait in the queue until the size is known (a body without a
  // length is written at its end): only then does queued data mean work.
  const bool writable = fileSize_ != 0;
  const bool fileWakes = writable && file_.SignalsData();
  for (;;) {
    std::uint32_t passActive = 0;
    std::uint32_t passSpeed = 0;
    bool any = false;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = slots_[i];
      if (slot.jobId == 0 || (slot.flags & kSlotEnded)) continue;
      any = true;
      // While blocks wait for the disk, writing them comes first: the job is
      // only looked at, not waited for. So it is when the file wakes the
      // task: the wait is on the file, after the pass.
      const bool busy = fileWakes || (writable && file_.QueuedBytes() >= kBusyQueueBytes);
      const std::uint32_t waitMs = busy ? 0 : kPollMs;
      const int wait = jobs_.Wait(slot.jobId, waitMs, snapshot);
      if (wait != kJobWaitFailed) {
        slot.position = snapshot->position;
        slot.speed = JobSpeed(slot, *snapshot);
      }
      if (wait == kJobWaitFailed || wait == kJobEnded || wait == kJobResponse) {
        *slotIndex = i;
        return wait;
      }
      ++passActive;
      passSpeed += snapshot->speed;
      // Network threads wait while much is queued; writing after every wait
      // (not once per pass over all slots, up to eight waits) keeps them
      // going on fast links and the queue short.
      if (!file_.Flush()) return kFlushFailed;
    }
    if (!any) return kNoJob;
    *active = passActive;
    *speed = passSpeed;
    if (fileWakes && file_.QueuedBytes() < kBusyQueueBytes) {
      file_.WaitForData(kPollMs);
      if (!file_.Flush()) return kFlushFailed;
    }
    if (env_.NowMs() - start > budgetMs || env_.Cancelled()) return kJobIdle;
  }
}

void DownloadTask::RunStep() {
  PruneSlots();
  std::size_t index = 0;
  JobSnapshot snapshot;
  std::uint32_t active = 0;
  std::uint32_t speed = 0;
  // A probe of the link ends the step when its time is up, so that the
  // connections it held back start then, not at the next idle step.
  if (link_ == kLinkProbing) UpdateLink();
  std::uint32_t budgetMs = kRunBudgetMs;
  if (link_ == kLinkProbing && firstResponseMs_ != 0) {
    const std::uint64_t probeLeftMs = firstResponseMs_ + kProbeMs - env_.NowMs();
    budgetMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(budgetMs, probeLeftMs));
  }
  const int wait = WaitAny(budgetMs, &index, &snapshot, &active, &speed);
  switch (wait) {
    case kFlushFailed:
      Fail(kDownloadFileFailed);
      return;
    case kJobIdle:
      OnIdle(active, speed);
      return;
    case kJobResponse:
      OnLaterResponse(index, snapshot);
      return;
    case kJobEnded:
      OnJobEnded(index, snapshot);
      return;
    case kJobWaitFailed:
      trace_.Record(kRunStep, L"rirei");
      result_ = kDownloadWaitFailed;
      done_ = true;
      return;
    default:
      trace_.Record(kRunStep, wait == kNoJob ? L"rirnw" : L"rirad");
      DiagPrintf(L"NOWAIT %p\r\n", JobTag(0));
      state_ = kCheck;
      return;
  }
}

void DownloadTask::OnIdle(std::uint32_t active, std::uint32_t speed) {
  if (!file_.Flush()) {
    Fail(kDownloadFileFailed);
    return;
  }
  const std::uint32_t remaining = file_.RemainingBytes();
  const double percent =
      100.0 - static_cast<double>(remaining) / (static_cast<double>(fileSize_) + 1.0) * 100.0;
  const int pct = static_cast<int>(percent);
  DiagPrintf(L"IDLE %u %d/%d=%0.2f%% Bytes speed=%d est=%ds\r\n", active,
             static_cast<int>(file_.Written()), static_cast<int>(remaining), percent,
             static_cast<int>(speed), static_cast<int>(remaining / (speed + 1)));
  // While the size is unknown there is no percentage to show.
  if (progress_ != nullptr && fileSize_ != 0) *progress_ = std::max(0, std::min(100, pct));
  if (active < maxConnections_ && file_.ResumeAllowed()) AddJobsByRanges(maxConnections_ - active);
  trace_.RecordIdle(kRunStep, speed, active, file_.Written());
}

void DownloadTask::UpdateLink() {
  const std::uint64_t now = env_.NowMs();
  if (link_ == kLinkProbing && firstResponseMs_ != 0 && now - firstResponseMs_ >= kProbeMs) {
    // The probe's time is up with the first piece still running: its body so
    // far shows the link.
    for (const Slot& slot : slots_) {
      if (firstJob_ != 0 && slot.jobId == firstJob_) {
        JudgeLink(slot.position - slot.first, now - firstResponseMs_);
      }
    }
    if (link_ == kLinkProbing) link_ = kLinkShared;
  }
  // A fast link that slowed down (a server that throttles after its first
  // megabytes) gets its connections back.
  if (link_ != kLinkFast) return;
  for (const Slot& slot : slots_) {
    if (slot.jobId == 0 || (slot.flags & (kSlotClosed | kSlotEnded)) || slot.speed == 0) continue;
    if (slot.speed < kFastLinkBytesPerSecond) link_ = kLinkShared;
  }
}

std::uint32_t DownloadTask::ConnectionCap() const {
  std::uint32_t cap = maxConnections_;
  if (link_ == kLinkProbing) cap = kProbeConnections;
  if (link_ == kLinkFast) cap = 1;
  return std::max(1u, std::min(maxConnections_, cap));
}

void DownloadTask::JudgeLink(std::uint64_t bodyBytes, std::uint64_t elapsedMs) {
  const std::uint64_t speed = BytesPerSecond(bodyBytes, elapsedMs);
  link_ = speed >= kFastLinkBytesPerSecond ? kLinkFast : kLinkShared;
  DiagPrintf(L"Link %u bytes/s: %ls\r\n",
             static_cast<unsigned>(std::min<std::uint64_t>(speed, 0xFFFFFFFFu)),
             link_ == kLinkFast ? L"one connection" : L"shared");
}

void DownloadTask::AddJobsByRanges(std::uint32_t count) {
  // Ranges of an unknown size are not ranges: the single connection goes on.
  if (fileSize_ == 0 || InRetryWindow()) return;
  UpdateLink();
  const std::uint32_t active = ActiveJobs();
  const std::uint32_t cap = ConnectionCap();
  count = std::min(count, active < cap ? cap - active : 0u);
  if (count == 0 || ClaimPieces(count) == 0) return;
  StartPendingSlots();
  DiagPrintf(L"AddJobsByRanges %ls\r\n", L"");
  trace_.Record(kRunStep, L"riaj");
}

void DownloadTask::OnLaterResponse(std::size_t slotIndex, const JobSnapshot& snapshot) {
  std::uint32_t valid;
  if (snapshot.status != 206 || snapshot.rangeTotal != fileSize_) {
    valid = (snapshot.status == 200 || snapshot.status == 206) ? 2 : 0;
  } else if (!IsRealSize(snapshot.contentLength)) {
    valid = 2;
  } else {
    valid = snapshot.lastModified == response_.lastModified ? 1 : 2;
  }
  const std::uint32_t jobId = slots_[slotIndex].jobId;
  if (valid == 1) {
    file_.AcceptJob(jobId);
    trace_.Record(kRunStep, L"rirrs");
    // The server honours ranges beyond the first request: the other
    // connections start.
    if (!rangesConfirmed_) {
      rangesConfirmed_ = true;
      file_.SetResumeSupport(valid);
      const std::uint32_t active = ActiveJobs();
      if (active < maxConnections_) AddJobsByRanges(maxConnections_ - active);
    }
  } else {
    TraceMismatch(snapshot, ActiveJobs());
    if (!KeepWholeAnswerAlone(slotIndex, snapshot)) {
      CloseAllJobs();
      state_ = kStart;
      retryAtMs_ = env_.NowMs() + kRetryDelayMs;
    }
  }
  file_.SetResumeSupport(valid);
  DiagPrintf(L"SVRRESP %p bSupportResume=%u  %u,%u,%u\r\n", JobTag(jobId), valid,
             snapshot.rangeFirst, snapshot.rangeEnd, snapshot.rangeTotal);
}

bool DownloadTask::KeepWholeAnswerAlone(std::size_t slotIndex, const JobSnapshot& snapshot) {
  // Only the whole body of the same file: the known size and date.
  if (snapshot.status != 200 || snapshot.contentLength != fileSize_ ||
      snapshot.lastModified != response_.lastModified) {
    return false;
  }
  // This connection carries the whole file already: every other one ends
  // now (each has at most a piece left), and this one runs to the end of
  // the file, so the server sends the file about once.
  Slot& kept = slots_[slotIndex];
  // Accepted first: what it queued before this answer was seen survives
  // the drop of the others' blocks.
  file_.AcceptJob(kept.jobId);
  file_.DropQueued(false);
  for (Slot& slot : slots_) {
    if (&slot == &kept || slot.jobId == 0) continue;
    jobs_.Close(slot.jobId);
    slot.jobId = 0;
    slot.flags |= kSlotClosed;
  }
  kept.first = 0;
  kept.last = fileSize_ - 1;
  kept.openEnd = false;
  kept.mayCut = false;
  DiagPrintf(L"RangeIgnored: one connection fetches the whole file\r\n");
  return true;
}

void DownloadTask::TraceMismatch(const JobSnapshot& snapshot, std::uint32_t active) {
  const auto high = [](std::uint64_t t) { return static_cast<std::uint32_t>(t >> 32); };
  const auto low = [](std::uint64_t t) { return static_cast<std::uint32_t>(t); };
  trace_.Record(kRunStep, L"rirre", snapshot.status);
  trace_.Record(kRunStep, L"rirrecl", response_.contentLength, snapshot.contentLength);
  trace_.Record(kRunStep, L"rirrelt1", high(response_.lastModified), low(response_.lastModified));
  trace_.Record(kRunStep, L"rirrelt2", high(snapshot.lastModified), low(snapshot.lastModified));
  trace_.Record(kRunStep, L"rirrefs", fileSize_, snapshot.rangeTotal);
  trace_.Record(kRunStep, L"rirreot", active, 1);
  trace_.Record(kRunStep, L"rirremi:" + firstAddresses_);
  trace_.Record(kRunStep, L"rirreci:" + snapshot.serverAddressBefore + L":" +
                              snapshot.serverAddressAfter);
  trace_.Record(kRunStep, L"rirreurl1:" + NextJobUrl());
  trace_.Record(kRunStep, L"rirreurl2:" + snapshot.redirectUrl);
  trace_.Record(kRunStep, L"rirreurl3:" + snapshot.hostHeader);
}

void DownloadTask::OnJobEnded(std::size_t slotIndex, const JobSnapshot& snapshot) {
  Slot& slot = slots_[slotIndex];
  slot.flags |= kSlotEnded;
  if (fileSize_ == 0 && slot.jobId == firstJob_ && snapshot.status == 200 &&
      snapshot.lastError == 0 && !snapshot.oversize) {
    // The single connection of a download without Content-Length ended with
    // its whole body: the file is complete at the delivered size.
    if (CompleteUnsized(snapshot)) return;
  }
  // The job's check-out is done when none of its bytes is missing any more:
  // its last chunk is queued before its end is signalled, so one flush
  // settles it. A job that stopped short leaves bytes behind and backs off.
  if (!file_.Flush()) {
    Fail(kDownloadFileFailed);
    return;
  }
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  const bool complete = fileSize_ != 0 && SlotRange(slot, &first, &last) &&
                        !Overlaps(file_.Remaining(), first, last);
  if (!complete) retryAtMs_ = env_.NowMs() + kRetryDelayMs;
  trace_.Record(kRunStep, L"riej", complete ? 1 : 0);
  DiagPrintf(L"ENDJOB %p bRangeComplete=%d\r\n", JobTag(slot.jobId), complete ? 1 : 0);
  // The job is done with: its handle goes (a connection whose body was read
  // to its end goes back to WinINet for the next request), and the freed
  // connection takes the next piece at once instead of at the next idle
  // step.
  // A piece read to its end tells the link's speed best.
  const std::uint64_t took = env_.NowMs() - slot.startMs;
  if (complete && took != 0 && snapshot.delivered >= kMinPieceBytes) {
    lastPieceSpeed_ = BytesPerSecond(snapshot.delivered, took);
  }
  // The first piece read to its end before the probe's time is up shows
  // the link at once.
  if (slot.jobId == firstJob_ && complete && link_ == kLinkProbing && firstResponseMs_ != 0) {
    JudgeLink(snapshot.delivered, env_.NowMs() - firstResponseMs_);
  }
  jobs_.Close(slot.jobId);
  slot.jobId = 0;
  slot.flags |= kSlotClosed;
  if (complete && state_ == kRunStep && file_.ResumeAllowed()) {
    const std::uint32_t active = ActiveJobs();
    if (active < maxConnections_) AddJobsByRanges(maxConnections_ - active);
  }
}

void DownloadTask::Check() {
  CloseAllJobs();
  if (!file_.Flush()) {
    Fail(kDownloadFileFailed);
    return;
  }
  const ByteRanges remaining = file_.Remaining();
  DiagPrintf(L"DownloadComplete write=fs%u:fw%u:a%u left=%u\r\n", fileSize_, file_.Written(),
             file_.Received(), static_cast<unsigned>(remaining.size()));
  if (!remaining.empty()) {
    state_ = IsRealSize(fileSize_) ? kRestartRanges : kStart;
    trace_.Record(kCheck, L"rijcrs");
    return;
  }
  trace_.Record(kCheck, L"rijc");
  done_ = true;
}

void DownloadTask::RestartRanges() {
  if (InRetryWindow()) {
    trace_.Record(kRestartRanges, L"rsnx");
    env_.SleepMs(1000);
    return;
  }
  const std::uint32_t ranges = static_cast<std::uint32_t>(file_.Remaining().size());
  const std::uint32_t connections =
      std::min(ConnectionsFor(file_.RemainingBytes()), maxConnections_);
  ClaimPieces(connections);
  StartPendingSlots();
  trace_.Record(kRestartRanges, L"rscc", ranges, connections);
  trace_.Record(kRestartRanges, L"cofm", file_.Received());
  state_ = kRunStep;
}

void DownloadTask::Resumed(const ByteRanges& ranges, const StoredResponse& response) {
  response_ = response;
  // No first piece shows this run's link: its connections share it.
  link_ = kLinkShared;
  response_.status = 200;
  if (IsRealSize(response.contentLength)) {
    heldSize_ = response.contentLength;
    heldLastModified_ = response.lastModified;
    fileSize_ = response.contentLength;
    maxConnections_ = std::min(maxConnections_, ConnectionsFor(fileSize_));
    if (!file_.SetSize(fileSize_, response.lastModified)) {
      Fail(kDownloadFileFailed);
      return;
    }
    file_.SetRemaining(ranges);
    state_ = kRestartRanges;
  } else {
    state_ = kRunStep;
    trace_.Record(kResumed, L"wlrs");
  }
}

void DownloadTask::Finish() {
  trace_.Record(0, L"cofm", file_.Received());
  if (!jobUrl_.empty()) trace_.Record(0, L"dmjfru:" + NextJobUrl());
  // The jobs go first: a network thread must never write into a closed file.
  CloseAllJobs();
  file_.Close();
  // A failed write or size leaves the file incomplete whatever else arrived.
  if (result_ != kDownloadFileFailed && file_.IsComplete()) result_ = kDownloadOk;
  if (stalled_) env_.ReportStalled(false);
  trace_.Record(0, L"dse", static_cast<std::uint32_t>(result_),
                static_cast<std::uint32_t>(env_.NowMs() - startMs_));
  if (progress_ != nullptr) *progress_ = 100;
}

void DownloadTask::Fail(int result) {
  DiagPrintf(L"DownloadFail %d\r\n", result);
  result_ = result;
  done_ = true;
}

bool DownloadTask::SlotRange(const Slot& slot, std::uint32_t* first, std::uint32_t* last) const {
  if (slot.openEnd) {
    if (fileSize_ == 0) return false;
    *first = slot.first;
    *last = fileSize_ - 1;
    return slot.first < fileSize_;
  }
  *first = slot.first;
  *last = slot.last;
  return slot.first <= slot.last;
}

ByteRanges DownloadTask::UnclaimedRanges() {
  ByteRanges unclaimed = file_.Remaining();
  for (const Slot& slot : slots_) {
    if (slot.jobId == 0 || (slot.flags & (kSlotClosed | kSlotEnded))) continue;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    if (SlotRange(slot, &first, &last)) unclaimed = SubtractRange(unclaimed, first, last);
  }
  return unclaimed;
}
