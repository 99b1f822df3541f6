// The statx calls of a large batch, shared out in chunks: the thread that
// read the batch queues it, and any thread with nothing more urgent takes a
// chunk. Not thread-safe: every call is made with the read-ahead's lock held.
#pragma once

#include <cstdint>

namespace read_ahead {

struct DescribedBatch;

// A batch whose entries are described a chunk at a time. Lives on its
// reader's stack until every chunk is done.
struct ChunkedBatch {
  ChunkedBatch* prev = nullptr;  // among the batches with chunks nobody has taken
  ChunkedBatch* next = nullptr;
  const void* owner = nullptr;  // the directory whose batch it is
  DescribedBatch* batch = nullptr;
  int fd = -1;        // the directory's, which the entries are looked at in
  bool asks = false;  // its files are asked how they are stored
  std::uint32_t entries = 0;
  std::uint32_t chunkCount = 0;
  std::uint32_t nextChunk = 0;
  std::uint32_t doneChunks = 0;

  bool AllTaken() const { return nextChunk == chunkCount; }
  bool AllDone() const { return doneChunks == chunkCount; }
  // The entries of chunk: [Begin, End).
  std::uint32_t Begin(std::uint32_t chunk) const;
  std::uint32_t End(std::uint32_t chunk) const;
};

class ChunkQueue {
 public:
  static constexpr std::uint32_t kChunkEntries = 128;

  // Whether a batch of that many entries is worth sharing: one of fewer than
  // two chunks is described faster than another thread could be woken.
  static bool WorthSharing(std::uint32_t entries) { return entries >= 2 * kChunkEntries; }

  // Queues batch, whose entries, fd and owner are set, with every chunk untaken.
  void Push(ChunkedBatch& batch);
  bool Empty() const { return head == nullptr; }
  // The first batch with a chunk nobody has taken.
  ChunkedBatch* First() const { return head; }
  // owner's batch with a chunk nobody has taken; null when there is none.
  ChunkedBatch* Of(const void* owner) const;
  // Takes the next chunk of batch, which leaves the queue once all are taken.
  std::uint32_t Take(ChunkedBatch& batch);
  // Counts a chunk of batch done; answers whether it was the last.
  static bool Done(ChunkedBatch& batch) { return ++batch.doneChunks == batch.chunkCount; }

 private:
  ChunkedBatch* head = nullptr;
  ChunkedBatch* tail = nullptr;
};

}  // namespace read_ahead
