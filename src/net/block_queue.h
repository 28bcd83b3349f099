#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "sys/lock.h"

namespace net {

// One received chunk waiting for the disk: a header and the bytes, in one
// heap allocation. A block marked written carries no bytes: its chunk is on
// disk already and only its range waits to be taken off the missing list.
struct QueuedBlock {
  uint32_t position;  // absolute file offset
  uint32_t length;
  uint32_t limit;
  uint32_t jobId;
  uint32_t capacity;  // bytes allocated after the header
  bool written;

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
};

struct QueuedBlockDeleter {
  void operator()(QueuedBlock* block) const;
};
using QueuedBlockPtr = std::unique_ptr<QueuedBlock, QueuedBlockDeleter>;

QueuedBlockPtr NewQueuedBlock(uint32_t position, const uint8_t* data, uint32_t length,
                              uint32_t limit, uint32_t jobId);

// Blocks for chunks of 128 to 256 KiB are recycled through a small
// process-wide pool: fresh memory for each would fault in every page of it
// again. Frees what the pool holds (a download calls it when it ends).
void TrimQueuedBlockPool();

// Queued memory is bounded at three times the file size, or 105 MiB while
// the size is unknown (fileSize 0).
constexpr uint64_t kUnknownSizeQueueCap = 110100480;  // 0x6900000
bool QueueOverCap(uint64_t queuedBytes, uint32_t fileSize);

// The in-memory side of the output file: network threads queue chunks,
// the download task's thread takes the blocks of accepted jobs for the disk.
// Thread-safe; one lock guards the queue, the received count and the
// accepted jobs.
class BlockQueue {
 public:
  BlockQueue() = default;
  BlockQueue(const BlockQueue&) = delete;
  BlockQueue& operator=(const BlockQueue&) = delete;

  // A chunk the caller wrote to the file itself: only its range is queued,
  // for the task to take off the missing list. It counts as received but
  // not as queued memory, and stops the job at its stop offset as Offer
  // does.
  void OfferWritten(uint32_t position, uint32_t length, uint32_t limit, uint32_t jobId,
                    uint32_t resumeSupport, int* stop);

  // The sink's Write. Copies the chunk into the queue unless the queue is
  // over its cap, in which case the chunk is dropped and *stop is set. A
  // queued chunk that reached the job's stop offset (limit != 0) also sets
  // *stop once the server is known to honour ranges (resumeSupport != 0).
  // The cap compares a sum taken under the lock after releasing it, so it
  // may be slightly stale. Returns whether the chunk was queued.
  // queuedAfter, when given, receives the queued sum with this chunk in it,
  // taken under the same lock (so exactly one chunk sees a mark crossed).
  bool Offer(uint32_t position, const uint8_t* data, uint32_t length, uint32_t limit,
             uint32_t jobId, uint32_t fileSize, uint32_t resumeSupport, int* stop,
             uint64_t* queuedAfter = nullptr);

  void AcceptJob(uint32_t jobId);
  bool IsJobAccepted(uint32_t jobId) const;

  // One pass over the queue: the blocks of accepted jobs are returned in
  // order; the others stay queued in their order.
  std::vector<QueuedBlockPtr> TakeAccepted();

  // all: frees every block. Otherwise frees the blocks of jobs not accepted,
  // and the rest too when they alone are over the cap.
  void Drop(bool all, uint32_t fileSize);

  uint64_t QueuedBytes() const;
  std::size_t QueuedCount() const;
  uint32_t received() const;

 private:
  mutable Lock lock_;
  std::deque<QueuedBlockPtr> queue_;
  std::unordered_map<uint32_t, int> acceptedJobs_;
  uint64_t queuedBytes_ = 0;  // sum of the queued lengths, kept as blocks come and go
  uint32_t received_ = 0;
};

}  // namespace net
