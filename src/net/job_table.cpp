#include "net/job_table.h"

#include <atomic>

#include "sys/diag.h"

namespace net {

uint32_t NewJobId() {
  static std::atomic<uint32_t> counter{0};
  return kJobIdBase | (counter.fetch_add(1) + 1);
}

DownloadJobTable::~DownloadJobTable() {
  // Only test tables are ever destroyed; drop what they still hold.
  for (auto& entry : active_) entry.second->Release();
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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    active_[id] = job;
  }
  job->Start(url, useRange, first, last, sink, id, extraHeaders);
  DiagPrintf(L"CreateDownLoadJob=%08x [%u-%u] %ls\r\n", id, first, last, url.c_str());
  return id;
}

IHttpAsync* DownloadJobTable::AcquireJob(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = active_.find(jobId);
  if (it == active_.end()) return nullptr;
  it->second->AddRef();
  return it->second;
}

IHttpAsync* DownloadJobTable::AcquireRetiringJob(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = active_.find(jobId);
  if (it == active_.end()) {
    it = closing_.find(jobId);
    if (it == closing_.end()) return nullptr;
  }
  it->second->AddRef();
  return it->second;
}

void DownloadJobTable::ForgetRetired(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  closing_.erase(jobId);
}

void DownloadJobTable::ReleaseJob(IHttpAsync* job) {
  if (job) job->Release();
}

HttpRequestState* DownloadJobTable::Acquire(uint32_t jobId) {
  IHttpAsync* job = AcquireJob(jobId);
  return job ? job->GetState() : nullptr;
}

void DownloadJobTable::Release(HttpRequestState* state) {
  if (!state) return;
  const uint32_t id = state->params.context;
  IHttpAsync* job = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = active_.find(id);
    if (it != active_.end()) {
      job = it->second;
    } else {
      auto retired = closing_.find(id);
      if (retired != closing_.end()) job = retired->second;
    }
  }
  // The caller's reference keeps the job alive until this Release.
  if (job) job->Release();
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
  IHttpAsync* job = AcquireJob(jobId);
  if (!job) return;
  job->Close();
  job->RequestAbort();
  bool retired = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = active_.find(jobId);
    if (it != active_.end() && it->second == job) {
      active_.erase(it);
      closing_[jobId] = job;
      retired = true;
    }
  }
  if (retired) job->Release();  // the table's reference
  job->Release();               // ours
}

std::size_t DownloadJobTable::ActiveCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_.size();
}

bool DownloadJobTable::IsActive(uint32_t jobId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_.count(jobId) != 0;
}

}  // namespace net
