// The worker pool on its own: workers started, a pause that waits for the
// task running, and a stop that does not wait for a worker stuck in a call.
#include "platform/posix/worker_pool.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Workers that run one task each time the test hands them one, and record
// what happened, under the lock.
struct Board {
  Mutex lock;
  WorkerPool pool;
  Condition handed;        // a task was handed out, or the pool stops
  Condition changed;       // a task began or ended
  unsigned tasks = 0;      // handed out, not yet begun
  int pipe[2] = {-1, -1};  // a task reads one byte from it: blocked until the test writes
  std::vector<std::string> events;
};

void* Work(void* argument) {
  Board& board = *static_cast<Board*>(argument);
  std::unique_lock<Mutex> guard(board.lock);
  while (!board.pool.Stopping()) {
    if (board.tasks == 0) {
      board.handed.Wait(guard);
      continue;
    }
    --board.tasks;
    board.pool.TaskBegins();
    board.events.push_back("began");
    board.changed.NotifyAll();
    guard.unlock();
    char byte;
    const bool read = ::read(board.pipe[0], &byte, 1) == 1;
    guard.lock();
    board.events.push_back(read ? "ended" : "failed");
    board.pool.TaskEnds();
    board.changed.NotifyAll();
  }
  return nullptr;
}

struct timespec SecondsFromNow(long seconds) {
  struct timespec at;
  ::clock_gettime(CLOCK_REALTIME, &at);
  at.tv_sec += seconds;
  return at;
}

class WorkerPoolTest : public ::testing::Test {
 protected:
  WorkerPoolTest() { EXPECT_EQ(::pipe(board.pipe), 0); }
  ~WorkerPoolTest() override {
    ::close(board.pipe[1]);  // a task still reading fails, and its worker leaves
    unsigned workers = 0;
    {
      const std::lock_guard<Mutex> guard(board.lock);
      workers = board.pool.Stop();
      board.handed.NotifyAll();
    }
    EXPECT_TRUE(board.pool.JoinBy(workers, SecondsFromNow(10)));
    ::close(board.pipe[0]);
  }

  // Hands out a task and returns once a worker has begun it.
  void BeginTask(std::unique_lock<Mutex>& guard) {
    const std::size_t before = board.events.size();
    ++board.tasks;
    board.handed.NotifyAll();
    while (board.events.size() == before) board.changed.Wait(guard);
  }

  // Grows the pool as the walk does, the lock let go of while threads are
  // made; answers the threads that run, the caller's included.
  unsigned GrowTo(std::unique_lock<Mutex>& guard, unsigned threads) {
    const unsigned missing = board.pool.Missing(threads);
    guard.unlock();
    const unsigned made = board.pool.Start(missing, Work, &board);
    guard.lock();
    board.pool.Started(made);
    return board.pool.Workers() + 1;
  }

  Board board;
};

TEST_F(WorkerPoolTest, GrowsToTheThreadsAskedForTheCallersIncluded) {
  std::unique_lock<Mutex> guard(board.lock);
  EXPECT_EQ(GrowTo(guard, 1), 1u);
  EXPECT_EQ(board.pool.Workers(), 0u);
  EXPECT_EQ(GrowTo(guard, 3), 3u);
  EXPECT_EQ(GrowTo(guard, 2), 3u) << "never fewer";
  EXPECT_EQ(GrowTo(guard, kMaxWalkThreads + 5), kMaxWalkThreads);
  EXPECT_EQ(board.pool.Workers(), kMaxWalkThreads - 1);
}

// Pause returns only once the task running has ended, and while paused the
// pool says so; the last Resume says that workers may be woken.
TEST_F(WorkerPoolTest, APauseWaitsForTheTaskRunning) {
  std::unique_lock<Mutex> guard(board.lock);
  GrowTo(guard, 2);
  BeginTask(guard);
  bool pausedYet = false;
  std::thread pauser([&] {
    std::unique_lock<Mutex> pauserGuard(board.lock);
    board.pool.Pause(pauserGuard);
    board.events.push_back("paused");
    pausedYet = true;
    board.changed.NotifyAll();
  });
  // The pauser is waiting for the task before the task may end.
  while (!board.pool.progress.HasWaiters() && !pausedYet) {
    guard.unlock();
    std::this_thread::yield();
    guard.lock();
  }
  EXPECT_TRUE(board.pool.Paused());
  EXPECT_FALSE(pausedYet) << "paused with a task running";
  ASSERT_EQ(::write(board.pipe[1], "x", 1), 1);
  while (!pausedYet) board.changed.Wait(guard);
  guard.unlock();
  pauser.join();
  guard.lock();
  EXPECT_EQ(board.events, (std::vector<std::string>{"began", "ended", "paused"}));
  board.pool.Pause(guard);  // a second pause, with nothing running, returns at once
  EXPECT_FALSE(board.pool.Resume());
  EXPECT_TRUE(board.pool.Resume());
  EXPECT_FALSE(board.pool.Paused());
}

// A worker inside a call that does not return is left to the process's end:
// the join gives up at its deadline rather than wait.
TEST_F(WorkerPoolTest, StoppingDoesNotWaitForAWorkerStuckInACall) {
  std::unique_lock<Mutex> guard(board.lock);
  GrowTo(guard, 3);
  BeginTask(guard);
  const unsigned workers = board.pool.Stop();
  board.handed.NotifyAll();
  guard.unlock();
  EXPECT_FALSE(board.pool.JoinBy(workers, SecondsFromNow(1)));
  guard.lock();
  EXPECT_EQ(board.events, (std::vector<std::string>{"began"})) << "the call has not returned";
}

}  // namespace
