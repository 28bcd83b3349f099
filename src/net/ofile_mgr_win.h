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
#include "sys/lock.h"
#include "sys/scoped_handle_win.h"

namespace net {

// Owns the file one download writes into. Once the size is known, network
// threads write the chunks of accepted jobs to the file themselves and queue
// only their ranges; other chunks are queued whole. The download task's
// thread writes the queued blocks of accepted jobs (Flush), takes the
// written ranges off the list of missing ones, keeps the resume file
// (path + ".resume") and decides when the file is complete.
class COFileMgr : public IUnknown, public CMyCComObjectRoot {
 public:
  // A millisecond tick (it wraps); injectable so that tests need not wait
  // for the resume record's interval.
  using Clock = std::function<uint32_t()>;

  explicit COFileMgr(Clock clock = Clock());

  static constexpr uint64_t kBackPressureBytes = 6u * 1024 * 1024;
  // Queued bytes that wake a WaitForData.
  static constexpr uint64_t kWakeWriterBytes = 1024 * 1024;
  static constexpr uint32_t kBackPressureWaitMs = 2000;
  ~COFileMgr();

  bool Open(const std::wstring& path, bool withResume, const std::wstring& url);
  // A sink for one job, returned with one reference.
  IOutFile* CreateSubStream(uint32_t first, uint32_t last);

  // From the sinks, on network threads. Once the manager is closed every
  // chunk is refused and its job told to stop. A chunk that cannot be
  // written stops its job and makes the next Flush fail.
  int Write(uint32_t position, uint32_t length, const uint8_t* data, uint32_t limit,
            uint32_t jobId, int* stop);

  void AcceptJob(uint32_t jobId) { queue_.AcceptJob(jobId); }
  // From a sink, on its network thread, before the job's first chunk: a
  // piece answered with its range of the very file the download holds (206,
  // the known size, the same Last-Modified, once ranges are confirmed) is
  // accepted at once. The task accepts it too, a moment later; meanwhile
  // its chunks would be copied into the queue and written by the task
  // instead of going straight to the file.
  void OnJobResponse(uint32_t jobId, const HttpResponseInfo& response);
  bool IsJobAccepted(uint32_t jobId) const { return queue_.IsJobAccepted(jobId); }
  // 0 = not known, 1 = ranges honoured (then it stays 1), 2 = not honoured.
  void SetResumeSupport(uint32_t value);
  bool ResumeAllowed() const;

  // False when the file cannot take the size.
  bool SetSize(uint32_t size, const SystemTime* lastModified);
  // False when the file is not open, the size is not known yet, or a block
  // could not be written (its range stays missing, and writeFailed() stays
  // true).
  bool Flush();
  // Returns once the resume record being written in the background (if
  // any) is on disk; Close and SetSize wait for it too.
  void WaitForSave();
  // Returns once kWakeWriterBytes are queued, a request reports its
  // response or end, or after timeoutMs.
  void WaitForData(uint32_t timeoutMs);
  void DropQueued(bool all) { queue_.Drop(all, fileSize_.load()); }
  bool LoadResume(std::vector<ByteRange>* ranges, HttpResponseInfo* info);
  // The size is known and no byte is missing; written() counts every byte
  // once, those a resume record held included.
  bool IsComplete() const;
  uint64_t RemainingBytes() const { return remaining_.TotalBytes(); }
  // Writes what is queued and, under the usual conditions but without
  // waiting for the interval, the resume record; then closes the files.
  void Close();

  RangeList& remaining() { return remaining_; }
  // Replaces the missing ranges (bytes outside them count as held, so
  // written() follows) and makes the next save rewrite the record.
  void SetRemaining(const std::vector<ByteRange>& ranges);
  uint32_t fileSize() const { return fileSize_.load(); }
  uint64_t written() const { return written_; }
  bool writeFailed() const { return writeFailed_.load(); }
  uint32_t received() const { return queue_.received(); }
  std::size_t QueuedCount() const { return queue_.QueuedCount(); }
  uint64_t QueuedBytes() const { return queue_.QueuedBytes(); }
  // The file has taken its size (SetSize succeeded): resume records are
  // kept from then on.
  bool sized() const { return sized_; }
  // The file was marked sparse by SetSize.
  bool sparse() const { return sparse_; }
  const std::wstring& resumePath() const { return resumePath_; }

 private:
  // Writes a chunk of an accepted job straight to the file, on the caller's
  // thread, and queues only its range; false when the chunk must be queued
  // (size unknown, job not accepted yet, file closed).
  bool WriteThrough(uint32_t position, uint32_t length, const uint8_t* data, uint32_t limit,
                    uint32_t jobId, int* stop);
  bool WriteBlock(const QueuedBlock& block, uint32_t length);
  // With fileLock_ held and write-throughs refused (closed_ or resizing_):
  // returns once none is in flight, releasing the lock while it waits.
  void WaitForWritesInFlight();
  // force: the interval does not apply, nor does an unchanged record wait,
  // and the record is on disk when the call returns.
  void SaveResume(bool force);
  static DWORD WINAPI SaveThread(void* self);
  // Flushes the data file, then writes pendingRecord_ and flushes it.
  void WritePendingRecord();
  bool SaveInProgress();

  Clock clock_;
  std::wstring url_;
  std::wstring path_;
  std::wstring resumePath_;
  ScopedHandle dataFile_;
  ScopedHandle resumeFile_;
  std::atomic<bool> closed_{false};  // read by network threads
  FILETIME creationTime_{};
  // The file system reports the last change as the creation time (no birth
  // times, as under Wine): the creation time then cannot identify the file.
  bool creationTimeMoves_ = false;
  SystemTime lastModified_{};
  BlockQueue queue_;
  ScopedHandle dataEvent_;  // auto-reset; set when the queue reaches kWakeWriterBytes
  RangeList remaining_ = RangeList::Whole();
  std::atomic<uint32_t> fileSize_{0};  // read by network threads for the cap
  uint64_t written_ = 0;  // bytes taken off the remaining list, each once
  uint64_t writtenAtRecord_ = 0;  // written_ when the last record was built
  std::atomic<bool> writeFailed_{false};  // set by network threads too
  // Guards the data file's size and closing against the network threads
  // that write through: each checks in under it, writes at its own offset
  // without it, and checks out under it again.
  Lock fileLock_;
  uint32_t writesInFlight_ = 0;  // under fileLock_
  bool resizing_ = false;        // under fileLock_: SetSize refuses write-throughs
  std::atomic<uint32_t> resumeSupport_{0};
  bool sized_ = false;
  bool sparse_ = false;
  uint32_t lastResumeSave_ = 0;
  std::vector<uint8_t> pendingRecord_;  // the save thread's while it runs
  ScopedHandle saveThread_;
  bool resumeChanged_ = false;  // the record no longer describes the file
};

using COFileSubStream = COutFileSubStream<COFileMgr>;

// A SystemTime as the 100-ns count of a FILETIME; 0 for no time.
uint64_t FileTimeValue(const SystemTime& time);

}  // namespace net
