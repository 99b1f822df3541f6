// What the read-ahead's threads share: the parts of read_ahead.cpp and
// read_ahead_work.cpp, each guarded by lock unless it says otherwise.
#pragma once

#include <time.h>

#include <cstdint>

#include "platform/posix/chunk_queue.h"
#include "platform/posix/disk_probe.h"
#include "platform/posix/foretold_tree.h"
#include "platform/posix/open_below.h"
#include "platform/posix/worker_pool.h"

namespace read_ahead {

struct SharedState {
  Mutex lock;
  WorkerPool pool;
  ForetoldTree tree;
  ChunkQueue chunks;
  // The walk's thread waiting for what happens to walkAwaits (opened, a
  // batch, an end, a batch shared out): woken for that directory alone.
  Condition walk;
  const Node* walkAwaits = nullptr;
  unsigned threads = 1;  // raised to diskThreads once the walk reads from the disk
  unsigned diskThreads = 1;
  DiskProbe probe{ProcessBlockCounter()};
};

// The one state of the read-ahead, made once Enabled() first answers true.
SharedState& Shared();

}  // namespace read_ahead
