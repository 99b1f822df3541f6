// The lock the read-ahead's threads share, the conditions they wait on, and
// the worker threads themselves: started as the walk needs them, paused
// while a walk settles, stopped at exit without waiting on the disk.
#pragma once

#include <pthread.h>
#include <time.h>

#include <mutex>

#include "platform/posix/walk_threads.h"

// An exclusive lock, taken many times a directory, each time for a few
// instructions: a thread that finds it held spins a little before it sleeps
// in the kernel.
class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock() { ::pthread_mutex_lock(&mutex); }
  void unlock() { ::pthread_mutex_unlock(&mutex); }
  pthread_mutex_t* Native() { return &mutex; }

 private:
  pthread_mutex_t mutex = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;
};

// Where threads wait under a Mutex, counted, so that telling nobody costs no
// call. Allocates nothing and throws nothing, unlike a condition for any
// lock: it is made in the platform's find calls, which answer out of memory
// with an error code. Every member is called with the Mutex held.
class Condition {
 public:
  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // May return without a notification: callers wait in a loop.
  void Wait(std::unique_lock<Mutex>& guard) {
    ++waiters;
    ::pthread_cond_wait(&condition, guard.mutex()->Native());
    --waiters;
  }
  void NotifyAll() {
    if (waiters > 0) ::pthread_cond_broadcast(&condition);
  }
  bool HasWaiters() const { return waiters > 0; }

 private:
  pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
  unsigned waiters = 0;
};

// The worker threads, and whether they may take new work. Every member but
// JoinBy is called with the Mutex the pool's conditions wait under held.
class WorkerPool {
 public:
  using Main = void* (*)(void* argument);

  WorkerPool() = default;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  Condition idle;      // workers with nothing to do
  Condition progress;  // a thread waiting for chunks to be done, or for every task to end

  // Growing the pool to threads, the caller's own included (at most
  // kMaxWalkThreads), takes three steps, so that no thread is made with the
  // lock held: Missing, with the lock, says how many to start; Start,
  // without it, starts them running main(argument) and answers how many the
  // system allowed (the walk goes on with those); Started, with the lock
  // again, counts them in. One thread grows the pool.
  unsigned Missing(unsigned threads) const;
  unsigned Start(unsigned count, Main main, void* argument);
  void Started(unsigned count) { started += count; }
  unsigned Workers() const { return started; }

  // A task is whatever a thread does with the lock let go of; the pool
  // counts them so that Pause can wait for them.
  void TaskBegins() { ++running; }
  void TaskEnds() {
    if (--running == 0 && pauses > 0) progress.NotifyAll();
  }
  bool AnyTaskRunning() const { return running > 0; }

  // Returns once no task runs, and none is begun until each Pause has had
  // its Resume: while Paused(), nobody picks a task.
  void Pause(std::unique_lock<Mutex>& guard);
  // Answers whether that was the last pause: idle workers may then be woken.
  bool Resume() { return --pauses == 0; }
  bool Paused() const { return pauses > 0; }

  // The process is ending: every waiter is woken to leave. Answers how many
  // workers there are to join.
  unsigned Stop();
  bool Stopping() const { return stopping; }
  // Without the lock: joins the first count workers not joined yet, each
  // once it has left; false, leaving the rest, when one is still inside a
  // call at deadline (CLOCK_REALTIME).
  bool JoinBy(unsigned count, const struct timespec& deadline);

 private:
  pthread_t workers[kMaxWalkThreads];  // the first `started` are running
  unsigned started = 0;
  unsigned joined = 0;
  unsigned running = 0;
  unsigned pauses = 0;
  bool stopping = false;
};
