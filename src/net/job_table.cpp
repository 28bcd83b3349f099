#include "net/job_table.h"

#include <atomic>

#include "sys/diag.h"

namespace net {

uint32_t NewJobId() {
  static std::atomic<uint32_t> counter{0};
  return kJobIdBase | (counter.fetch_add(1) + 1);
}

namespace {

bool AwaitingClose(IHttpAsync* job) {
  const HttpRequestState* state = job->GetState();
  return state != nullptr && __atomic_load_n(&state->awaitingClose, __ATOMIC_SEQ_CST) != 0;
}

}  // namespace

DownloadJobTable::~DownloadJobTable() {
  // Only test tables are ever destroyed; drop what they still hold.
  for (auto& entry : active_) entry.second->Release();
  for (auto& entry : closing_) entry.second->Release();
}

DownloadJobTable& DownloadJobTable::Instance() {
  static DownloadJobTable* table = new DownloadJobTable();
  return *table;
}

uint32_t DownloadJobTable::StartJob(IHttpAsync* job, IOutFile* sink, const std::wstring& url,
                                    uint32_t useRange, uint32_t first, uint32_t last,
                                    const wchar_t* extraHeaders) {
  const uint32_t id = NewJobId();
  job->AddRef();
  if (HttpRequestState* state = job->GetState()) state->owner = job;
  {
    AutoLock lock(lock_);
    active_[id] = job;
  }
  job->Start(url, useRange, first, last, sink, id, extraHeaders);
  DiagPrintf(L"CreateDownLoadJob=%08x [%u-%u] %ls\r\n", id, first, last, url.c_str());
  return id;
}

IHttpAsync* DownloadJobTable::AcquireJob(uint32_t jobId) {
  AutoLock lock(lock_);
  auto it = active_.find(jobId);
  if (it == active_.end()) return nullptr;
  it->second->AddRef();
  return it->second;
}

IHttpAsync* DownloadJobTable::AcquireRetiringJob(uint32_t jobId) {
  AutoLock lock(lock_);
  auto it = active_.find(jobId);
  if (it == active_.end()) {
    it = closing_.find(jobId);
    if (it == closing_.end()) return nullptr;
  }
  it->second->AddRef();
  return it->second;
}

void DownloadJobTable::OnHandleClosed(uint32_t jobId) {
  IHttpAsync* job = AcquireRetiringJob(jobId);
  if (!job) return;
  if (HttpRequestState* state = job->GetState()) {
    __atomic_store_n(&state->awaitingClose, 0u, __ATOMIC_SEQ_CST);
  }
  ForgetRetired(jobId);
  job->Release();
}

void DownloadJobTable::ForgetRetired(uint32_t jobId) {
  IHttpAsync* job = nullptr;
  {
    AutoLock lock(lock_);
    auto it = closing_.find(jobId);
    if (it == closing_.end()) return;
    job = it->second;
    closing_.erase(it);
  }
  job->Release();  // the table's reference, outside the lock
}

void DownloadJobTable::ReleaseJob(IHttpAsync* job) {
  if (job) job->Release();
}

HttpRequestState* DownloadJobTable::Acquire(uint32_t jobId) {
  IHttpAsync* job = AcquireJob(jobId);
  return job ? job->GetState() : nullptr;
}

void DownloadJobTable::Release(HttpRequestState* state) {
  if (state && state->owner) static_cast<IHttpAsync*>(state->owner)->Release();
}

int DownloadJobTable::WaitJob(uint32_t jobId, uint32_t timeoutMs, HttpRequestState* snapshot,
                              int alsoResponse) {
  IHttpAsync* job = AcquireJob(jobId);
  if (!job) return kWaitFailed;
  const int result = job->Wait(timeoutMs, snapshot, alsoResponse);
  job->Release();
  return result;
}

int DownloadJobTable::SetJobStopAt(uint32_t jobId, uint32_t last) {
  IHttpAsync* job = AcquireJob(jobId);
  if (!job) return 0;
  const int result = job->SetStopAt(last);
  job->Release();
  return result;
}

void DownloadJobTable::CloseJob(uint32_t jobId) {
  IHttpAsync* job = nullptr;
  {
    // Retired before it is closed: a closing notice that comes inside
    // Close() then finds it among the retired jobs and drops it there.
    AutoLock lock(lock_);
    auto it = active_.find(jobId);
    if (it == active_.end()) return;
    job = it->second;
    active_.erase(it);
    closing_[jobId] = job;  // the table's reference moves along
    job->AddRef();          // ours, for the calls below
  }
  job->Close();
  job->RequestAbort();
  if (!AwaitingClose(job)) ForgetRetired(jobId);
  job->Release();
}

std::size_t DownloadJobTable::ActiveCount() const {
  AutoLock lock(lock_);
  return active_.size();
}

std::size_t DownloadJobTable::RetiredCount() const {
  AutoLock lock(lock_);
  return closing_.size();
}

bool DownloadJobTable::IsActive(uint32_t jobId) const {
  AutoLock lock(lock_);
  return active_.count(jobId) != 0;
}

}  // namespace net
