#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/block_queue.h"
#include "net/com_object.h"
#include "net/http_types.h"
#include "net/out_file_sub_stream.h"
#include "net/range_list.h"

namespace net {

// Owns the file one download writes into. Network threads only queue
// chunks (Write); the download task's thread writes the queued blocks of
// accepted jobs to disk (Flush), keeps the list of missing ranges and the
// resume file (path + ".resume"), and decides when the file is complete.
class COFileMgr : public IUnknown, public CMyCComObjectRoot {
 public:
  // Seconds since 1970; injectable so that tests need not wait for the
  // resume record's 10-second interval.
  using Clock = std::function<uint32_t()>;

  explicit COFileMgr(Clock clock = Clock());

  static constexpr uint64_t kBackPressureBytes = 24u * 1024 * 1024;
  static constexpr uint32_t kBackPressureWaitMs = 2000;
  ~COFileMgr();

  bool Open(const std::wstring& path, bool withResume, const std::wstring& url);
  // A sink for one job, returned with one reference.
  IOutFile* CreateSubStream(uint32_t first, uint32_t last);

  // From the sinks, on network threads.
  int Write(uint32_t position, uint32_t length, const uint8_t* data, uint32_t limit,
            uint32_t jobId, int* stop);

  void AcceptJob(uint32_t jobId) { queue_.AcceptJob(jobId); }
  bool IsJobAccepted(uint32_t jobId) const { return queue_.IsJobAccepted(jobId); }
  // 0 = not known, 1 = ranges honoured (then it stays 1), 2 = not honoured.
  void SetResumeSupport(uint32_t value);
  bool ResumeAllowed() const;

  bool SetSize(uint32_t size, const SystemTime* lastModified);
  bool Flush();
  void DropQueued(bool all) { queue_.Drop(all, fileSize_.load()); }
  bool LoadResume(std::vector<ByteRange>* ranges, HttpResponseInfo* info);
  bool IsComplete() const;
  uint64_t RemainingBytes() const { return remaining_.TotalBytes(); }
  void Close();

  RangeList& remaining() { return remaining_; }
  uint32_t fileSize() const { return fileSize_.load(); }
  uint32_t written() const { return written_; }
  uint32_t received() const { return queue_.received(); }
  std::size_t QueuedCount() const { return queue_.QueuedCount(); }
  uint64_t QueuedBytes() const { return queue_.QueuedBytes(); }
  bool mapped() const { return view_ != nullptr; }
  const std::wstring& resumePath() const { return resumePath_; }

 private:
  bool WriteBlock(const QueuedBlock& block, uint32_t length);
  bool SeekAndWrite(uint32_t position, const uint8_t* data, uint32_t length);
  void SaveResumeIfDue();
  void Unmap();

  Clock clock_;
  std::wstring url_;
  std::wstring path_;
  std::wstring resumePath_;
  HANDLE dataFile_ = INVALID_HANDLE_VALUE;
  HANDLE resumeFile_ = INVALID_HANDLE_VALUE;
  FILETIME creationTime_{};
  SystemTime lastModified_{};
  BlockQueue queue_;
  RangeList remaining_ = RangeList::Whole();
  std::atomic<uint32_t> fileSize_{0};  // read by network threads for the cap
  uint32_t written_ = 0;
  std::atomic<uint32_t> resumeSupport_{0};
  HANDLE mapping_ = INVALID_HANDLE_VALUE;
  uint8_t* view_ = nullptr;
  uint32_t lastResumeSave_ = 0;
};

using COFileSubStream = COutFileSubStream<COFileMgr>;

}  // namespace net
