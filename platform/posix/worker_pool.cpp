#include "platform/posix/worker_pool.h"

#include <cstddef>

#include "platform/posix/directory_entries.h"

unsigned WorkerPool::Missing(unsigned threads) const {
  if (threads > kMaxWalkThreads) threads = kMaxWalkThreads;
  return started + 1 < threads ? threads - started - 1 : 0;
}

unsigned WorkerPool::Start(unsigned count, Main main, void* argument) {
  // A worker's frames are few, besides its batch: its stack must not depend
  // on the stack limit the process started with, and a small one leaves the
  // address space to the walk when it is limited.
  constexpr std::size_t kWorkerStack = kBatchSize + 128 * 1024;
  unsigned made = 0;
  // Slots past the started ones are read by nobody until Started counts them.
  while (made < count && started + made + 1 < kMaxWalkThreads) {
    pthread_attr_t attributes;
    const bool ok = ::pthread_attr_init(&attributes) == 0 &&
                    ::pthread_attr_setstacksize(&attributes, kWorkerStack) == 0 &&
                    ::pthread_create(&workers[started + made], &attributes, main, argument) == 0;
    ::pthread_attr_destroy(&attributes);
    if (!ok) break;
    ++made;
  }
  return made;
}

void WorkerPool::Pause(std::unique_lock<Mutex>& guard) {
  ++pauses;
  while (running > 0) progress.Wait(guard);
}

unsigned WorkerPool::Stop() {
  stopping = true;
  idle.NotifyAll();
  progress.NotifyAll();
  return started;
}

bool WorkerPool::JoinBy(unsigned count, const struct timespec& deadline) {
  for (; joined < count; ++joined) {
    if (::pthread_timedjoin_np(workers[joined], nullptr, &deadline) != 0) return false;
  }
  return true;
}
