#include "net/block_queue.h"

#include <cstring>
#include <new>

#include "net/memory_pool.h"

namespace net {

namespace {

// Chunks between 128 and 256 KiB share one pool of 256 KiB blocks, wasting
// at most half a block. Larger chunks are rare in the queue: once its job is
// accepted and the size known, a chunk goes to the disk without it.
constexpr uint32_t kPooledCapacity = 256 * 1024;
constexpr uint32_t kPooledAbove = kPooledCapacity / 2;
// About what the disk writer lets queue up before network threads wait.
constexpr std::size_t kMaxPooledBlocks = 32;

// Never destroyed: blocks may be freed while the process exits.
MemoryPool& Pool() {
  static MemoryPool* pool = new MemoryPool(kMaxPooledBlocks);
  return *pool;
}

}  // namespace

void QueuedBlockDeleter::operator()(QueuedBlock* block) const {
  const bool pooled = block->capacity == kPooledCapacity;
  block->~QueuedBlock();
  if (!pooled || !Pool().Give(block)) ::operator delete(block);
}

QueuedBlockPtr NewQueuedBlock(uint32_t position, const uint8_t* data, uint32_t length,
                              uint32_t limit, uint32_t jobId) {
  const bool pooled = length > kPooledAbove && length <= kPooledCapacity;
  const uint32_t capacity = pooled ? kPooledCapacity : length;
  void* memory = pooled ? Pool().Take() : nullptr;
  if (!memory) memory = ::operator new(sizeof(QueuedBlock) + capacity);
  QueuedBlockPtr block(
      new (memory) QueuedBlock{position, length, limit, jobId, capacity, /*written=*/false});
  if (length) std::memcpy(block->data(), data, length);
  return block;
}

void TrimQueuedBlockPool() { Pool().Trim(); }

bool QueueOverCap(uint64_t queuedBytes, uint32_t fileSize) {
  if (fileSize != 0) return queuedBytes > 3ull * fileSize;
  return queuedBytes > kUnknownSizeQueueCap;
}

bool BlockQueue::Offer(uint32_t position, const uint8_t* data, uint32_t length, uint32_t limit,
                       uint32_t jobId, uint32_t fileSize, uint32_t resumeSupport, int* stop,
                       uint64_t* queuedAfter) {
  if (QueueOverCap(QueuedBytes(), fileSize)) {
    *stop = 1;
    return false;
  }
  QueuedBlockPtr block = NewQueuedBlock(position, data, length, limit, jobId);
  {
    AutoLock lock(lock_);
    queue_.push_back(std::move(block));
    queuedBytes_ += length;
    received_ += length;
    if (queuedAfter) *queuedAfter = queuedBytes_;
  }
  if (resumeSupport != 0 && limit != 0) *stop = 1;
  return true;
}

void BlockQueue::OfferWritten(uint32_t position, uint32_t length, uint32_t limit, uint32_t jobId,
                              uint32_t resumeSupport, int* stop) {
  QueuedBlockPtr block(new (::operator new(sizeof(QueuedBlock)))
                           QueuedBlock{position, length, limit, jobId, 0, /*written=*/true});
  {
    AutoLock lock(lock_);
    queue_.push_back(std::move(block));
    received_ += length;
  }
  if (resumeSupport != 0 && limit != 0) *stop = 1;
}

void BlockQueue::AcceptJob(uint32_t jobId) {
  AutoLock lock(lock_);
  acceptedJobs_[jobId] = 1;
}

bool BlockQueue::IsJobAccepted(uint32_t jobId) const {
  AutoLock lock(lock_);
  auto it = acceptedJobs_.find(jobId);
  return it != acceptedJobs_.end() && it->second != 0;
}

std::vector<QueuedBlockPtr> BlockQueue::TakeAccepted() {
  std::vector<QueuedBlockPtr> taken;
  AutoLock lock(lock_);
  std::deque<QueuedBlockPtr> kept;
  for (QueuedBlockPtr& block : queue_) {
    auto it = acceptedJobs_.find(block->jobId);
    if (it != acceptedJobs_.end() && it->second != 0) {
      if (!block->written) queuedBytes_ -= block->length;
      taken.push_back(std::move(block));
    } else {
      kept.push_back(std::move(block));
    }
  }
  queue_.swap(kept);
  return taken;
}

void BlockQueue::Drop(bool all, uint32_t fileSize) {
  std::deque<QueuedBlockPtr> freed;  // freed after the lock is released
  AutoLock lock(lock_);
  if (all) {
    freed.swap(queue_);
    queuedBytes_ = 0;
    return;
  }
  std::deque<QueuedBlockPtr> kept;
  uint64_t keptBytes = 0;
  for (QueuedBlockPtr& block : queue_) {
    auto it = acceptedJobs_.find(block->jobId);
    if (it != acceptedJobs_.end() && it->second != 0) {
      if (!block->written) keptBytes += block->length;
      kept.push_back(std::move(block));
    } else {
      freed.push_back(std::move(block));
    }
  }
  if (QueueOverCap(keptBytes, fileSize)) {
    for (QueuedBlockPtr& block : kept) freed.push_back(std::move(block));
    kept.clear();
    keptBytes = 0;
  }
  queue_.swap(kept);
  queuedBytes_ = keptBytes;
}

uint64_t BlockQueue::QueuedBytes() const {
  AutoLock lock(lock_);
  return queuedBytes_;
}

std::size_t BlockQueue::QueuedCount() const {
  AutoLock lock(lock_);
  return queue_.size();
}

uint32_t BlockQueue::received() const {
  AutoLock lock(lock_);
  return received_;
}

}  // namespace net
