#include "platform/posix/read_ahead_work.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/batch_reader.h"
#include "platform/posix/described_batch.h"
#include "platform/posix/error_from_errno.h"
#include "platform/posix/system_calls.h"

namespace read_ahead {

namespace {

// Batches a directory may have read and not handed out: more for one the
// walk is in than for one it has yet to reach.
constexpr std::size_t kBatchesAheadInWalk = 4;
constexpr std::size_t kBatchesAheadOfWalk = 2;

// Whether node, once opened, is checked against its listing by the "." of
// its first batch rather than by a call of its own: on its parent's device
// (as the listing said of both), the inode alone names it, and the open
// refuses another mount.
bool CheckedByFirstBatch(const Node& node) {
  return node.inode != 0 && node.parent->device != 0 && node.device == node.parent->device &&
         !node.mountRoot;
}

// Whether a thread may read node's next batch: the walk's thread (onWalk)
// also one a worker gave back to it.
bool MayReadOn(const SharedState& shared, const Node& node, bool onWalk) {
  if (node.state != State::kOpen || (node.walkReadsOnly && !onWalk)) return false;
  if (node.batchCount == 0) return true;  // the walk may be waiting for it
  const std::size_t ahead = node.searched ? kBatchesAheadInWalk : kBatchesAheadOfWalk;
  return node.batchCount < ahead && shared.tree.heldBytes < ForetoldTree::kWindowBytes;
}

bool MayOpenAhead(const SharedState& shared, const Node& node) {
  const ForetoldTree& tree = shared.tree;
  return node.state == State::kUnstarted && tree.engaged && node.parent->fd >= 0 &&
         tree.heldDescriptors < tree.descriptorBudget &&
         tree.startedAhead < ForetoldTree::kWindowDirectories &&
         tree.heldBytes < ForetoldTree::kWindowBytes;
}

Work ReadWork(Node* node) {
  node->state = State::kBusy;
  ++node->references;
  Work work;
  work.node = node;
  return work;
}

Work ChunkWork(SharedState& shared, ChunkedBatch* chunked) {
  Work work;
  work.chunked = chunked;
  work.chunk = shared.chunks.Take(*chunked);
  return work;
}

// A worker's most urgent work: chunks of a shared batch, then the
// directories searches hold, then the ones foretold, in the walk's order and
// inside the window.
Work PickWork(SharedState& shared) {
  if (shared.pool.Paused() || shared.pool.Stopping()) return Work();
  if (!shared.chunks.Empty()) return ChunkWork(shared, shared.chunks.First());
  for (Node* node = shared.tree.Searched(); node != nullptr; node = node->searchNext) {
    if (MayReadOn(shared, *node, false)) return ReadWork(node);
  }
  std::size_t position = 0;
  for (Node* node = shared.tree.Head(); node != nullptr; node = node->next) {
    if (node->isMarker) continue;
    if (++position > ForetoldTree::kWindowDirectories) break;
    if (MayReadOn(shared, *node, false)) return ReadWork(node);
    if (MayOpenAhead(shared, *node)) {
      ++shared.tree.startedAhead;
      ++shared.tree.heldDescriptors;  // taken now, given back if the open fails
      ++node->parent->openingChildren;
      return ReadWork(node);
    }
  }
  return Work();
}

// One step the walk's thread may take aside while a worker reads the
// directory it waits for: a chunk, or one batch of another directory.
Work AsideWork(SharedState& shared) {
  // A test holding threads at named points decides which thread passes
  // which: the walk's thread then keeps to its own directory.
  if (system_calls::Holding()) return Work();
  Work work = PickWork(shared);
  work.aside = true;
  return work;
}

void RunChunk(SharedState& shared, ChunkedBatch& chunked, std::uint32_t chunk,
              std::unique_lock<Mutex>& guard) {
  guard.unlock();
  DescribeEntries(*chunked.batch, chunked.fd, chunked.asks, chunked.Begin(chunk),
                  chunked.End(chunk));
  guard.lock();
  if (ChunkQueue::Done(chunked)) shared.pool.progress.NotifyAll();
}

// Describes every entry of batch, node's; a large batch is shared with idle
// threads. A worker waiting for the last chunks takes any batch's; the
// walk's thread only its own. Called and returns with the lock let go of.
void Describe(SharedState& shared, Node* node, DescribedBatch* batch, int fd, bool asks,
              bool onWalk, std::unique_lock<Mutex>& guard) {
  if (!ChunkQueue::WorthSharing(batch->count)) {
    DescribeEntries(*batch, fd, asks, 0, batch->count);
    return;
  }
  guard.lock();
  if (shared.pool.Workers() == 0) {
    guard.unlock();
    DescribeEntries(*batch, fd, asks, 0, batch->count);
    return;
  }
  ChunkedBatch chunked;
  chunked.owner = node;
  chunked.batch = batch;
  chunked.fd = fd;
  chunked.asks = asks;
  chunked.entries = batch->count;
  shared.chunks.Push(chunked);
  WakeWorkers(shared);
  NotifyWalk(shared, node);  // a walk waiting for this listing takes chunks too
  while (!chunked.AllDone()) {
    // Its own chunks first, then any other batch's, then wait for the last ones.
    ChunkedBatch* from = !chunked.AllTaken() ? &chunked : onWalk ? nullptr : shared.chunks.First();
    if (from != nullptr) {
      const std::uint32_t chunk = shared.chunks.Take(*from);
      RunChunk(shared, *from, chunk, guard);
      continue;
    }
    shared.pool.progress.Wait(guard);
  }
  guard.unlock();
}

// Opens node ahead of the walk, relative to its parent's descriptor, which
// stays open while node counts in it. Answers false when it is not open.
bool OpenAhead(SharedState& shared, Node* node, std::unique_lock<Mutex>& guard,
               Deferred& deferred) {
  ForetoldTree& tree = shared.tree;
  const int parentFd = node->parent->fd;
  guard.unlock();
  system_calls::Reach(system_calls::Point::kOpeningAhead, node->Name(), parentFd);
  const bool checkLater = CheckedByFirstBatch(*node);
  const int fd = OpenListedDirectory(parentFd, node->Name(),
                                     checkLater ? ListedDirectory() : node->Listed(), kListFlags);
  const int openError = errno;
  system_calls::Reach(system_calls::Point::kOpenedAhead, node->Name(), fd >= 0 ? 0 : openError);
  guard.lock();
  // The parent's descriptor may be let go of again.
  if (--node->parent->openingChildren == 0) NotifyWalk(shared, node->parent);
  if (fd < 0) {
    --tree.heldDescriptors;
    if (LeftToTheWalk(openError)) {
      // Still counted in its parent: the walk opens it from there. No
      // longer started ahead (an ended one still is, until taken or dropped).
      if (node->foretold) --tree.startedAhead;
      node->state = State::kGivenBack;
      NotifyWalk(shared, node);
      return false;
    }
    tree.StopCountingInParent(node, deferred);
    tree.LetGoOfParentIfDone(node, deferred);
    EndNode(shared, node, ErrorFromOpeningBelow(openError, node->Listed()), deferred);
    return false;
  }
  node->openedAt = Now();
  // In place as long as its parent is, the start's own children from their
  // opening on; read while node still counts in its parent, which holds it.
  node->placedAt = std::min(node->parent->placedAt, node->openedAt);
  tree.StopCountingInParent(node, deferred);
  tree.LetGoOfParentIfDone(node, deferred);
  node->fd = fd;
  node->unchecked = checkLater;
  if (node->foretold || (node->searched && !node->detached)) {
    tree.PlaceMarker(node, node->foretold ? node->next : tree.Head());
  }
  NotifyWalk(shared, node);  // the walk may wait for it to be opened
  return true;
}

// Reads batches of node until its end, the window, or more urgent work stops
// it; one batch only when oneBatch. Entered and left with the lock held;
// what it lets go of goes to deferred. Sets paused when the walk's thread
// paused every other task to find a descriptor (see below).
void ReadBatches(SharedState& shared, Node* node, bool onWalk, bool oneBatch,
                 std::unique_lock<Mutex>& guard, char* scratch, Deferred& deferred, bool& paused) {
  ForetoldTree& tree = shared.tree;
  if (node->fd < 0 && !OpenAhead(shared, node, guard, deferred)) return;
  for (;;) {
    if (!node->foretold && !node->searched) {
      // Nobody will ask for it any more.
      EndNode(shared, node, ERROR_NO_MORE_FILES, deferred);
      return;
    }
    const int fd = node->fd;
    const bool predicts = node->predicts;
    const NameFilter& filter = node->pattern->filter;
    // Read by one thread at a time: the flag is that thread's while it reads.
    ListedDirectory unchecked = node->unchecked ? node->Listed() : ListedDirectory();
    guard.unlock();
    deferred.Run();
    system_calls::Reach(system_calls::Point::kReading, node->Name());
    if (node->asksStorage < 0) node->asksStorage = AsksHowStored(fd, node->device) ? 1 : 0;
    const bool asks = node->asksStorage > 0;
    const ssize_t length = ReadBatch(fd, scratch, unchecked);
    const int readError = errno;
    node->unchecked = unchecked.inode != 0;
    DescribedBatch* batch = nullptr;
    Node* children = nullptr;
    bool childrenMade = true;
    DWORD refusal = 0;
    if (length > 0) {
      batch = MakeBatch(scratch, static_cast<std::size_t>(length), filter);
      if (batch != nullptr) {
        Describe(shared, node, batch, fd, asks, onWalk, guard);
        refusal = CutAtRefusal(*batch);
        if (predicts) childrenMade = ForetoldTree::MakeChildren(*batch, children);
      }
    }
    // A worker short of memory (its own, or the kernel's for a call) or of a
    // descriptor to ask about a file gives the batch back, to be read again
    // by the walk, which would have read it without workers all the same.
    const bool shortOfDescriptors = batch != nullptr && asks && AnyShort(*batch);
    const bool shortOfMemory = length > 0 ? batch == nullptr || refusal == ERROR_NOT_ENOUGH_MEMORY
                                          : length < 0 && LeftToTheWalk(readError);
    // The walk's own thread short of a descriptor to ask about a file lets
    // go of everything read ahead, waits until no other thread holds one,
    // and reads the batch again, once: the walk on one thread holds nothing
    // ahead, and would have found the descriptor. Without the memory for a
    // batch, it lets go of everything read ahead and reads on in line, an
    // entry at a time into the search's own room, as the walk on one thread
    // does, which needs none. (The kernel short of memory for a call ends the
    // walk on its own thread as it ends the walk on one thread.)
    const bool readAgain =
        onWalk ? shortOfDescriptors && !paused : shortOfMemory || shortOfDescriptors;
    const bool readInLine = onWalk && length > 0 && batch == nullptr;
    const bool rewound = (readAgain || readInLine) &&
                         ::lseek(fd, node->resumeOffset, SEEK_SET) == node->resumeOffset;
    if (rewound && batch != nullptr) {
      Deferred freed;
      ForetoldTree::FreeChildren(children, freed);
      freed.FreeBatches(batch);
    }
    guard.lock();
    if (rewound && readInLine) {
      // Its subdirectories are no longer foretold from its batches: each is
      // opened when the walk asks for it. Left kBusy: the walk's alone.
      tree.DropPredictions(deferred);
      node->walkReadsInLine = true;
      node->predicts = false;
      tree.DropMarker(node, deferred);
      return;
    }
    if (rewound && onWalk) {
      tree.DropPredictions(deferred);
      shared.pool.TaskEnds();  // its own task must not keep the pause waiting
      shared.pool.Pause(guard);
      paused = true;
      continue;
    }
    if (rewound) {
      node->walkReadsOnly = true;
      node->state = State::kOpen;
      NotifyWalk(shared, node);
      return;
    }
    if (length <= 0) {
      EndNode(shared, node, length == 0 ? ERROR_NO_MORE_FILES : ErrorFromReading(readError),
              deferred);
      return;
    }
    if (batch == nullptr) {
      EndNode(shared, node, ERROR_NOT_ENOUGH_MEMORY, deferred);
      return;
    }
    node->resumeOffset = OffsetAfter(scratch, static_cast<std::size_t>(length));
    if (!childrenMade) {
      // The walk will ask for them all the same, and they are read in line.
      node->predicts = false;
      tree.DropMarker(node, deferred);
    }
    if (tree.Publish(node, batch, children, deferred)) WakeWorkers(shared);
    NotifyWalk(shared, node);
    if (refusal != 0) {
      EndNode(shared, node, refusal, deferred);
      return;
    }
    // Read on while nothing more urgent waits and the window has room.
    node->state = State::kOpen;
    if (oneBatch || !shared.chunks.Empty() || shared.pool.Paused() || shared.pool.Stopping() ||
        !MayReadOn(shared, *node, onWalk)) {
      return;
    }
    node->state = State::kBusy;
  }
}

void ReadDirectory(SharedState& shared, Node* node, bool onWalk, bool oneBatch,
                   std::unique_lock<Mutex>& guard, char* scratch, Deferred& deferred) {
  bool paused = false;
  ReadBatches(shared, node, onWalk, oneBatch, guard, scratch, deferred, paused);
  if (!paused) return;
  shared.pool.TaskBegins();
  if (shared.pool.Resume()) WakeWorkers(shared);
}

void* WorkerMain(void* argument) {
  alignas(struct dirent64) char scratch[kBatchSize];
  SharedState& shared = *static_cast<SharedState*>(argument);
  std::unique_lock<Mutex> guard(shared.lock);
  while (!shared.pool.Stopping()) {
    const Work work = PickWork(shared);
    if (!work.Any()) {
      shared.pool.idle.Wait(guard);
      continue;
    }
    RunWork(shared, work, false, guard, scratch);
  }
  return nullptr;
}

}  // namespace

void NotifyWalk(SharedState& shared, const Node* node) {
  if (shared.walkAwaits == node) shared.walk.NotifyAll();
}

void WaitForWalk(SharedState& shared, const Node* node, std::unique_lock<Mutex>& guard) {
  shared.walkAwaits = node;
  shared.walk.Wait(guard);
}

void WakeWorkers(SharedState& shared) { shared.pool.idle.NotifyAll(); }

void WakeWorkersIfRoomy(SharedState& shared) {
  if (shared.pool.idle.HasWaiters() && shared.tree.Roomy()) shared.pool.idle.NotifyAll();
}

void EndNode(SharedState& shared, Node* node, DWORD error, Deferred& deferred) {
  shared.tree.End(node, error, deferred);
  NotifyWalk(shared, node);
}

// While a worker reads node, and only then, one step of other work (a
// chunk, or one batch of another directory): node's next batch cannot be
// ready before that worker's, and the walk looks at node again after each
// step, so what it waits for never queues behind more than one step.
Work PickOwnWork(SharedState& shared, Node* node) {
  if (ChunkedBatch* chunked = shared.chunks.Of(node)) return ChunkWork(shared, chunked);
  if (!shared.pool.Paused() && MayReadOn(shared, *node, true)) return ReadWork(node);
  if (node->state != State::kBusy) return Work();
  return AsideWork(shared);
}

void RunWork(SharedState& shared, const Work& work, bool onWalk, std::unique_lock<Mutex>& guard,
             char* scratch) {
  shared.pool.TaskBegins();
  if (work.chunked != nullptr) {
    RunChunk(shared, *work.chunked, work.chunk, guard);
  } else {
    Deferred deferred;
    // Aside from its own directory, the walk's thread reads as a worker does.
    ReadDirectory(shared, work.node, onWalk && !work.aside, work.aside, guard, scratch, deferred);
    shared.tree.Release(work.node, deferred);
    guard.unlock();
    deferred.Run();
    guard.lock();
  }
  shared.pool.TaskEnds();
}

void StartWorkers(SharedState& shared, std::unique_lock<Mutex>& guard) {
  const unsigned missing = shared.pool.Missing(shared.threads);
  if (missing == 0) return;
  guard.unlock();
  const unsigned made = shared.pool.Start(missing, WorkerMain, &shared);
  guard.lock();
  shared.pool.Started(made);
  // The walk goes on with the threads it has.
  shared.threads = shared.pool.Workers() + 1;
}

// At exit the workers finish the call they are in and leave, and are
// joined, so that a leak checker finds nothing of theirs (their stacks and
// thread records are the C library's to reclaim at the join). A worker
// still in a system call at the deadline (a directory on a disk or server
// that does not answer) is left to the kernel, which ends it with the
// process: the walk needs nothing more from it, and the exit must not wait
// for the disk.
void StopWorkers(SharedState& shared) {
  constexpr long kJoinNanoseconds = 999'999'999;  // just under a second
  unsigned workers = 0;
  {
    const std::lock_guard<Mutex> guard(shared.lock);
    workers = shared.pool.Stop();
    shared.walk.NotifyAll();
  }
  struct timespec deadline;
  ::clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_nsec += kJoinNanoseconds;
  if (deadline.tv_nsec >= 1'000'000'000) {
    deadline.tv_nsec -= 1'000'000'000;
    ++deadline.tv_sec;
  }
  shared.pool.JoinBy(workers, deadline);
}

bool LeftToTheWalk(int error) {
  return ShortOfResources(error) || error == EAGAIN || error == EINTR;
}

}  // namespace read_ahead
