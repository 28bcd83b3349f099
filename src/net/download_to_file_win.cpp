// The download call: the download state machine over the process-wide job
// table (WinINet requests) and the output file manager.
#include "net/download_to_file.h"

#include <wininet.h>

#include <atomic>
#include <memory>

#include "net/download_task.h"
#include "net/job_table.h"
#include "net/monotonic_clock.h"
#include "net/ofile_mgr_win.h"
#include "sys/diag.h"
#include "sys/test_setting_win.h"

// The system's cryptographic random source (advapi32 "SystemFunction036").
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace {

std::uint64_t ToFileTime(const net::SystemTime& time) { return net::FileTimeValue(time); }

bool ToSystemTime(std::uint64_t fileTime, net::SystemTime* time) {
  if (fileTime == 0) return false;
  FILETIME file = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  SYSTEMTIME system;
  if (!FileTimeToSystemTime(&file, &system)) return false;
  memcpy(time, &system, sizeof(system));
  return true;
}

class JobTableJobs : public DownloadJobs {
 public:
  explicit JobTableJobs(net::COFileMgr* file) : file_(file), state_(new net::HttpRequestState) {}

  std::uint32_t Create(const std::wstring& url, bool useRange, std::uint32_t first,
                       std::uint32_t last, std::uint32_t flags) override {
    net::IOutFile* sink = file_->CreateSubStream(first, last);
    const std::uint32_t range =
        !useRange ? 0 : (flags & kWholeAnswerOk) ? net::kRangeOrWhole : 1;
    const wchar_t* headers = (flags & kCloseConnection) ? L"Connection: close\r\n" : nullptr;
    const std::uint32_t id = net::DownloadJobTable::Instance().CreateDownLoadJob(
        sink, url, range, first, last, headers, false);
    sink->Release();  // the request holds its own reference
    return id;
  }

  int Wait(std::uint32_t jobId, std::uint32_t timeoutMs, JobSnapshot* snapshot) override {
    const int result =
        net::DownloadJobTable::Instance().WaitJob(jobId, timeoutMs, state_.get(), 1);
    if (result == kJobWaitFailed) return result;
    const net::HttpRequestState& s = *state_;
    snapshot->position = s.position;
    snapshot->delivered = s.delivered;
    snapshot->speed = s.speed.Speed(net::MonotonicSeconds());
    snapshot->lastError = s.lastError;
    snapshot->useRange = s.params.useRange;
    snapshot->rangeLast = s.params.rangeLast;
    snapshot->stopAtSet = s.stopAtSet;
    snapshot->stopAt = s.stopAt;
    snapshot->status = s.response.status;
    snapshot->contentLength = s.response.contentLength;
    snapshot->rangeFirst = s.response.rangeFirst;
    snapshot->rangeEnd = s.response.rangeLast;
    snapshot->rangeTotal = s.response.rangeTotal;
    snapshot->lastModified = ToFileTime(s.response.lastModified);
    snapshot->oversize = s.sizeTooLarge != 0;
    snapshot->serverAddressBefore = s.serverBefore;
    snapshot->serverAddressAfter = s.serverAfter;
    snapshot->redirectUrl = s.redirected ? std::wstring(s.redirectUrl) : std::wstring();
    snapshot->hostHeader.assign(s.hostHeader, s.hostHeader + strnlen(s.hostHeader, sizeof(s.hostHeader)));
    return result;
  }

  void SetStopAt(std::uint32_t jobId, std::uint32_t last) override {
    net::DownloadJobTable::Instance().SetJobStopAt(jobId, last);
  }
  void Close(std::uint32_t jobId) override { net::DownloadJobTable::Instance().CloseJob(jobId); }

 private:
  net::COFileMgr* file_;
  std::unique_ptr<net::HttpRequestState> state_;  // the snapshot is large; kept off the stack
};

class FileManagerFile : public DownloadFile {
 public:
  explicit FileManagerFile(net::COFileMgr* file) : file_(file) {}
  void DropQueued(bool all) override { file_->DropQueued(all); }
  void AcceptJob(std::uint32_t jobId) override { file_->AcceptJob(jobId); }
  void SetResumeSupport(std::uint32_t value) override { file_->SetResumeSupport(value); }
  bool ResumeAllowed() override { return file_->ResumeAllowed(); }
  bool SetSize(std::uint32_t size, std::uint64_t lastModified) override {
    net::SystemTime time = {};
    return file_->SetSize(size, ToSystemTime(lastModified, &time) ? &time : nullptr);
  }
  bool Flush() override { return file_->Flush() || !file_->writeFailed(); }
  std::uint64_t QueuedBytes() override { return file_->QueuedBytes(); }
  bool SignalsData() override { return true; }
  void WaitForData(std::uint32_t timeoutMs) override { file_->WaitForData(timeoutMs); }
  bool LoadResume(ByteRanges* ranges, StoredResponse* response) override {
    std::vector<net::ByteRange> loaded;
    net::HttpResponseInfo info = {};
    if (!file_->LoadResume(&loaded, &info)) return false;
    for (const net::ByteRange& r : loaded) ranges->emplace_back(r.first, r.last);
    response->status = info.status;
    response->contentLength = info.contentLength;
    response->rangeTotal = info.rangeTotal;
    response->lastModified = ToFileTime(info.lastModified);
    return true;
  }
  void SetRemaining(const ByteRanges& ranges) override {
    std::vector<net::ByteRange> list;
    for (const auto& r : ranges) list.push_back(net::ByteRange{r.first, r.second});
    file_->SetRemaining(list);
  }
  ByteRanges Remaining() override {
    ByteRanges ranges;
    for (const net::ByteRange& r : file_->remaining().ranges()) ranges.emplace_back(r.first, r.last);
    return ranges;
  }
  std::uint32_t RemainingBytes() override {
    const std::uint64_t bytes = file_->RemainingBytes();
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bytes);
  }
  std::uint32_t Written() override {
    const std::uint64_t written = file_->written();
    return written > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(written);
  }
  std::uint32_t Received() override { return file_->received(); }
  bool IsComplete() override { return file_->IsComplete(); }
  void Close() override { file_->Close(); }

 private:
  net::COFileMgr* file_;
};

class ControlEnvironment : public DownloadEnvironment {
 public:
  explicit ControlEnvironment(DownloadControl* control) : control_(control) {}
  std::uint64_t NowMs() override { return net::MonotonicMs(); }
  void SleepMs(std::uint32_t ms) override { Sleep(ms); }
  bool Random(std::uint32_t* value) override {
    return SystemFunction036(value, sizeof(*value)) != FALSE;
  }
  bool Cancelled() override { return IsDownloadCancelled(control_) != 0; }
  void ReportStalled(bool stalled) override {
    if (control_ != nullptr) InterlockedExchange(&control_->stalled, stalled ? 1 : 0);
  }

 private:
  DownloadControl* control_;
};

// The silence the last download of the process ended with; the next one
// carries it (downloads of a run follow each other on the driver's thread).
std::atomic<std::uint32_t> g_carriedSilenceMs{0};

}  // namespace

int DownLoadUrlToFile(DownloadControl* control, const std::wstring& url, const std::wstring& path,
                      std::uint32_t timeoutSeconds, int ultra, int resume, int* progress) {
  if (!TakeDownloadControl(control)) {
    DiagPrintf(L"DownLoadUrlToFile control destroyed or used before\r\n");
    if (progress != nullptr) *progress = 100;
    return kDownloadCancelled;
  }
  const std::uint64_t startMs = net::MonotonicMs();
  TraceBuffer* traceTarget = control != nullptr ? control->trace.get() : nullptr;
  DownloadTrace trace(traceTarget, [startMs] {
    return static_cast<std::uint32_t>((net::MonotonicMs() - startMs) / 1000);
  });

  net::ScopedRef<net::COFileMgr> file(new net::CMyComObject<net::COFileMgr>());
  // The resume record is matched on the URL without the installer's
  // cache-busting "rnd" parameter; the requests still carry it.
  if (!file->Open(path, true, ResumeIdentityUrl(url))) {
    DiagPrintf(L"CreateFileFail %ls \r\n", path.c_str());
    trace.Record(0, L"dscfe");
    MarkDownloadDone(control);
    if (progress != nullptr) *progress = 100;
    return kDownloadFileFailed;
  }

  DWORD connections = 30;
  InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof(connections));
  InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections,
                     sizeof(connections));

  FileManagerFile fileAdapter(file.get());
  ByteRanges resumeRanges;
  StoredResponse resumeResponse;
  bool loaded = false;
  if (resume && fileAdapter.LoadResume(&resumeRanges, &resumeResponse)) {
    DiagPrintf(L"LoadResume \r\n");
    loaded = true;
  }
  if (ultra && !loaded) DiagPrintf(L"ultra mode runs as the multi-connection download\r\n");

  JobTableJobs jobs(file.get());
  ControlEnvironment environment(control);
  DownloadTask task(jobs, fileAdapter, environment, trace, url);
  const std::uint32_t stallLimitMs =
      TestSettingOr(ZETORA_TEST_VARIABLE("ZETORA_TEST_STALL_SECONDS"),
                    StallPolicy::kDefaultLimitMs / 1000) * 1000;
  task.SetStallPolicy(StallPolicy::ForLimit(stallLimitMs, g_carriedSilenceMs.load()));
  const int result = task.Run(timeoutSeconds, loaded, resumeRanges, resumeResponse, progress);
  g_carriedSilenceMs.store(task.SilenceAtEndMs());
  file.reset();
  MarkDownloadDone(control);
  if (progress != nullptr) *progress = 100;
  return result;
}
