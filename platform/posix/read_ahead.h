// Directory listings read ahead of the walk by worker threads.
//
// The walk asks for directories one at a time, in its own order: a
// directory's entries first, then each of its subdirectories the same way,
// depth first, in the order the listing named them. Every listing handed out
// names the subdirectories the walk will ask for next, so once the walk has
// asked for one of them, the workers open (relative to the parent's open
// descriptor), list and describe the ones that follow, in that order, and
// the caller's thread takes each listing ready when it asks for it. A
// request that is not the one foretold is served from the disk as it comes,
// and the read-ahead starts over from it.
//
// Bounded: at most kWindowDirectories directories and kWindowBytes bytes of
// listings are held ahead of the walk (foretold_tree.h), and at most
// ReadAheadDescriptors() descriptors are open for it. The parts: what is
// foretold (foretold_tree.h), the schedule (read_ahead_work.h), the batches
// (described_batch.h, chunk_queue.h), the threads (worker_pool.h) and the
// guess that the walk reads from the disk (disk_probe.h).
#pragma once

#include <cstddef>

#include "platform/posix/batch_reader.h"
#include "platform/win32.h"

namespace read_ahead {

struct Node;
struct DescribedBatch;

// Where one search stands in a listing. Owned by the search; used by one thread at a time.
struct Cursor {
  Node* node = nullptr;             // null once the listing has ended
  DescribedBatch* batch = nullptr;  // the batch being handed out
  std::size_t index = 0;
  HeldDots heldDots;
  // Room for one batch (kBatchSize), aligned for its entries, in which the
  // search's thread reads when it reads for itself. Not owned.
  char* scratch = nullptr;
  // The entries of the batch read into scratch not handed out yet, while the
  // walk's thread reads the listing in line (short of memory).
  BatchEntries inLine;
};

// Whether listings come through the read-ahead: the walk may use more than
// one thread. Decided on the first call.
bool Enabled();

// Starts the listing of the directory named by the first length characters
// of directory, for the names that match pattern. Answers false, with the
// platform's error, when the directory cannot be opened or memory is short.
bool Begin(const char* directory, std::size_t length, const char* pattern,
           std::size_t patternLength, Cursor& cursor, DWORD& error);

// Fills record with the next entry. At the end answers false with
// ERROR_NO_MORE_FILES, or once with the error that cut the listing short.
bool Next(Cursor& cursor, WIN32_FIND_DATAA& record, DWORD& error);

// Lets go of the listing, read to its end or not.
void End(Cursor& cursor);

}  // namespace read_ahead
