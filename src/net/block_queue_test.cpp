#include "net/block_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace net {
namespace {

std::vector<uint8_t> Bytes(std::size_t n, uint8_t value) { return std::vector<uint8_t>(n, value); }

int Offer(BlockQueue* queue, uint32_t position, uint32_t length, uint32_t jobId,
          uint32_t fileSize = 0, uint32_t limit = 0, uint32_t resumeSupport = 0) {
  std::vector<uint8_t> data = Bytes(length, static_cast<uint8_t>(position));
  int stop = 0;
  queue->Offer(position, data.data(), length, limit, jobId, fileSize, resumeSupport, &stop);
  return stop;
}

TEST(BlockQueueTest, CapIsThreeTimesTheSizeOr105MiBWhileUnknown) {
  EXPECT_FALSE(QueueOverCap(3000, 1000));
  EXPECT_TRUE(QueueOverCap(3001, 1000));
  EXPECT_FALSE(QueueOverCap(110100480, 0));
  EXPECT_TRUE(QueueOverCap(110100481, 0));
  EXPECT_FALSE(QueueOverCap(3ull * 0xFFFFFFFFu, 0xFFFFFFFFu));  // no 32-bit overflow
}

TEST(BlockQueueTest, RecycledBlocksCarryEachChunkWhole) {
  // Sizes around the pooled block's bounds, offered and freed twice so that
  // the second round reuses the first round's blocks (ASan checks the
  // bounds on the host).
  const uint32_t pooled = 256 * 1024;
  const uint32_t sizes[] = {1, pooled / 2, pooled / 2 + 1, pooled - 1, pooled, pooled + 1, 7};
  for (int round = 0; round < 2; ++round) {
    BlockQueue queue;
    queue.AcceptJob(1);
    uint32_t position = 0;
    for (uint32_t size : sizes) {
      Offer(&queue, position, size, 1, 0xFFFFFFFFu);
      position += size;
    }
    std::vector<QueuedBlockPtr> taken = queue.TakeAccepted();
    ASSERT_EQ(taken.size(), sizeof(sizes) / sizeof(sizes[0]));
    for (std::size_t i = 0; i < taken.size(); ++i) {
      const QueuedBlockPtr& block = taken[i];
      ASSERT_EQ(block->length, sizes[i]);
      const uint8_t expected = static_cast<uint8_t>(block->position);
      EXPECT_EQ(block->data()[0], expected);
      EXPECT_EQ(block->data()[block->length - 1], expected) << "size " << sizes[i];
    }
  }
  TrimQueuedBlockPool();
}

TEST(BlockQueueTest, ChunkOverTheCapIsDroppedAndStopsTheJob) {
  BlockQueue queue;
  EXPECT_EQ(Offer(&queue, 0, 2000, 1, 1000), 0);
  EXPECT_EQ(Offer(&queue, 2000, 1001, 1, 1000), 0);  // the sum was 2000 before it
  EXPECT_EQ(Offer(&queue, 3001, 10, 1, 1000), 1);    // 3001 queued: over
  EXPECT_EQ(queue.QueuedCount(), 2u);
  EXPECT_EQ(queue.QueuedBytes(), 3001u);
  EXPECT_EQ(queue.received(), 3001u);
}

TEST(BlockQueueTest, ChunkAtTheStopOffsetStopsOnlyOnceRangesAreKnownToWork) {
  BlockQueue queue;
  EXPECT_EQ(Offer(&queue, 0, 10, 1, 100, /*limit=*/5, /*resumeSupport=*/0), 0);
  EXPECT_EQ(Offer(&queue, 10, 10, 1, 100, 15, 1), 1);
  EXPECT_EQ(Offer(&queue, 20, 10, 1, 100, 0, 1), 0);
  EXPECT_EQ(queue.QueuedCount(), 3u);  // a stopping chunk is still queued
}

TEST(BlockQueueTest, TakesOnlyAcceptedJobsAndKeepsTheRestInOrder) {
  BlockQueue queue;
  Offer(&queue, 0, 1, 7);
  Offer(&queue, 1, 1, 8);
  Offer(&queue, 2, 1, 7);
  Offer(&queue, 3, 1, 9);
  queue.AcceptJob(7);
  std::vector<QueuedBlockPtr> taken = queue.TakeAccepted();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0]->position, 0u);
  EXPECT_EQ(taken[1]->position, 2u);
  EXPECT_EQ(taken[1]->data()[0], 2);
  EXPECT_TRUE(queue.TakeAccepted().empty());  // 8 and 9 stay across passes
  EXPECT_EQ(queue.QueuedBytes(), 2u);
  queue.AcceptJob(9);
  taken = queue.TakeAccepted();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0]->jobId, 9u);
  EXPECT_TRUE(queue.IsJobAccepted(7));
  EXPECT_FALSE(queue.IsJobAccepted(8));
}

TEST(BlockQueueTest, DropFreesUnacceptedJobsOrEverything) {
  BlockQueue queue;
  Offer(&queue, 0, 100, 1);
  Offer(&queue, 100, 100, 2);
  queue.AcceptJob(1);
  queue.Drop(false, 1000);
  EXPECT_EQ(queue.QueuedCount(), 1u);
  EXPECT_EQ(queue.QueuedBytes(), 100u);
  queue.Drop(false, 10);  // the accepted 100 bytes alone exceed 3 × 10
  EXPECT_EQ(queue.QueuedCount(), 0u);
  Offer(&queue, 0, 100, 1);
  queue.Drop(true, 1000);
  EXPECT_EQ(queue.QueuedCount(), 0u);
  EXPECT_EQ(queue.QueuedBytes(), 0u);
}

TEST(BlockQueueTest, ConcurrentWritersLoseNothing) {
  BlockQueue queue;
  queue.AcceptJob(1);
  std::vector<std::thread> writers;
  for (uint32_t t = 0; t < 4; ++t) {
    writers.emplace_back([&queue, t] {
      for (uint32_t i = 0; i < 500; ++i) Offer(&queue, t * 100000 + i * 10, 10, 1, 10000000);
    });
  }
  std::size_t taken = 0;
  for (int pass = 0; pass < 50; ++pass) taken += queue.TakeAccepted().size();
  for (std::thread& writer : writers) writer.join();
  taken += queue.TakeAccepted().size();
  EXPECT_EQ(taken, 2000u);
  EXPECT_EQ(queue.received(), 20000u);
}

}  // namespace
}  // namespace net
