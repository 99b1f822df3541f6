#include "platform/posix/chunk_queue.h"

namespace read_ahead {

std::uint32_t ChunkedBatch::Begin(std::uint32_t chunk) const {
  return chunk * ChunkQueue::kChunkEntries;
}

std::uint32_t ChunkedBatch::End(std::uint32_t chunk) const {
  const std::uint32_t end = (chunk + 1) * ChunkQueue::kChunkEntries;
  return end < entries ? end : entries;
}

void ChunkQueue::Push(ChunkedBatch& batch) {
  batch.chunkCount = (batch.entries + kChunkEntries - 1) / kChunkEntries;
  batch.nextChunk = 0;
  batch.doneChunks = 0;
  batch.next = nullptr;
  batch.prev = tail;
  (tail != nullptr ? tail->next : head) = &batch;
  tail = &batch;
}

ChunkedBatch* ChunkQueue::Of(const void* owner) const {
  for (ChunkedBatch* batch = head; batch != nullptr; batch = batch->next) {
    if (batch->owner == owner) return batch;
  }
  return nullptr;
}

std::uint32_t ChunkQueue::Take(ChunkedBatch& batch) {
  const std::uint32_t chunk = batch.nextChunk++;
  if (batch.AllTaken()) {
    (batch.prev != nullptr ? batch.prev->next : head) = batch.next;
    (batch.next != nullptr ? batch.next->prev : tail) = batch.prev;
    batch.prev = batch.next = nullptr;
  }
  return chunk;
}

}  // namespace read_ahead
