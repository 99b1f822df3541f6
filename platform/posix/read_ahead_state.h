// What the read-ahead's threads share: the parts of read_ahead.cpp and
// read_ahead_work.cpp, each guarded by lock unless it says otherwise.
#pragma once

#include <time.h>

#include <cstdint>

#include "platform/posix/chunk_queue.h"
#include "platform/posix/disk_probe.h"
#include "platform/posix/foretold_tree.h"
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

inline std::int64_t Now() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * std::int64_t{1000000000} + now.tv_nsec;
}

}  // namespace read_ahead
