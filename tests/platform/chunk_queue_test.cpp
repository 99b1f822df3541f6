// The statx calls of large batches shared out in chunks: which chunk each
// taker gets, and when a batch leaves the queue and is done.
#include "platform/posix/chunk_queue.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace read_ahead {
namespace {

TEST(ChunkQueueTest, ChunksAreTakenInOrderAndABatchLeavesOnceAllAreTaken) {
  EXPECT_FALSE(ChunkQueue::WorthSharing(2 * ChunkQueue::kChunkEntries - 1));
  EXPECT_TRUE(ChunkQueue::WorthSharing(2 * ChunkQueue::kChunkEntries));
  const int first = 1;
  const int second = 2;
  ChunkedBatch a;
  a.owner = &first;
  a.entries = 300;  // 128 + 128 + 44
  ChunkedBatch b;
  b.owner = &second;
  b.entries = 256;
  ChunkQueue queue;
  queue.Push(a);
  queue.Push(b);
  EXPECT_EQ(queue.Of(&second), &b);

  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  while (!queue.Empty()) {
    ChunkedBatch& batch = *queue.First();
    const std::uint32_t chunk = queue.Take(batch);
    ranges.emplace_back(batch.Begin(chunk), batch.End(chunk));
    if (&batch == &a && batch.AllTaken()) {
      EXPECT_EQ(queue.Of(&first), nullptr) << "taken whole";
    }
  }
  EXPECT_EQ(ranges, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                        {0, 128}, {128, 256}, {256, 300}, {0, 128}, {128, 256}}));
  EXPECT_FALSE(ChunkQueue::Done(a));
  EXPECT_FALSE(ChunkQueue::Done(a));
  EXPECT_FALSE(a.AllDone());
  EXPECT_TRUE(ChunkQueue::Done(a)) << "the last of three";
  EXPECT_TRUE(a.AllDone());
}

}  // namespace
}  // namespace read_ahead
