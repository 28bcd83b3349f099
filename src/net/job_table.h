#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "net/http_types.h"
#include "sys/lock.h"

namespace net {

// Job ids are 0x0F000000 | a process-wide counter; the first is 0x0F000001.
constexpr uint32_t kJobIdBase = 0x0F000000u;
uint32_t NewJobId();

// Maps job ids to their request objects. WinINet callbacks and request
// threads receive only a job id and reach their object through this table,
// so a callback that comes after a job was retired finds nothing and does
// nothing. The mutex is held for map access only, never across a call into
// a job.
class DownloadJobTable {
 public:
  DownloadJobTable() = default;
  ~DownloadJobTable();
  DownloadJobTable(const DownloadJobTable&) = delete;
  DownloadJobTable& operator=(const DownloadJobTable&) = delete;

  // The process-wide table, created on first use and never destroyed.
  static DownloadJobTable& Instance();

  // A new CHttpUltraSync (ultra) or CHttpAsync request, registered and
  // started. Windows only (the requests are WinINet objects).
  uint32_t CreateDownLoadJob(IOutFile* sink, const std::wstring& url, uint32_t useRange,
                             uint32_t first, uint32_t last, const wchar_t* extraHeaders,
                             bool ultra);

  // Registers job under a new id (the table takes one reference), starts it
  // and returns the id.
  uint32_t StartJob(IHttpAsync* job, IOutFile* sink, const std::wstring& url, uint32_t useRange,
                    uint32_t first, uint32_t last, const wchar_t* extraHeaders);

  // The active job with one more reference, or null. Pair with ReleaseJob.
  IHttpAsync* AcquireJob(uint32_t jobId);
  void ReleaseJob(IHttpAsync* job);
  // Like AcquireJob, but also finds a retired job. Only for the closing
  // notice of a job's request handle.
  IHttpAsync* AcquireRetiringJob(uint32_t jobId);
  // The closing notice of a job's request handle: clears its awaitingClose
  // and drops the retired job with the table's reference. Harmless for a
  // job that is not retired (yet): CloseJob then drops it itself.
  void OnHandleClosed(uint32_t jobId);

  // The state of an active job, with a reference on it; null when absent.
  HttpRequestState* Acquire(uint32_t jobId);
  // Drops the reference Acquire took, through the state's owner, whether
  // or not the job is still in the table.
  void Release(HttpRequestState* state);

  // Wait under a reference; kWaitFailed when the id is not active.
  int WaitJob(uint32_t jobId, uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse);
  int SetJobStopAt(uint32_t jobId, uint32_t last);
  // Retire, then Close and RequestAbort: out of the active map into the
  // closing map with the table's reference, where the job stays until its
  // request handle reports closed (at once when it has none open).
  void CloseJob(uint32_t jobId);

  std::size_t ActiveCount() const;
  std::size_t RetiredCount() const;
  bool IsActive(uint32_t jobId) const;

 private:
  // Drops a retired job and the table's reference on it.
  void ForgetRetired(uint32_t jobId);

  mutable Lock lock_;
  std::map<uint32_t, IHttpAsync*> active_;   // one reference each
  std::map<uint32_t, IHttpAsync*> closing_;  // one reference each: retired jobs
};

}  // namespace net
