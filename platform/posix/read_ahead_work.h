// The read-ahead's schedule: what each thread does next, and doing it.
//
// Workers take, most urgent first: chunks of a large batch being described,
// the next batch of a directory a search holds, then the directories
// foretold, in the walk's order and inside the window (foretold_tree.h),
// opened relative to their parent's descriptor. The walk's thread works on
// the directory it waits for, and on nothing else except while a worker
// reads that directory.
//
// Every call is made with the shared lock held, unless it says otherwise.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/posix/read_ahead_state.h"

namespace read_ahead {

// One thing a thread does with the lock let go of: a chunk of a batch, or
// batches of a directory, opening it first if need be.
struct Work {
  ChunkedBatch* chunked = nullptr;
  std::uint32_t chunk = 0;
  Node* node = nullptr;
  bool aside = false;  // the walk's thread helping aside from its own directory: one step
  bool Any() const { return chunked != nullptr || node != nullptr; }
};

// Something happened to node: the walk is woken if it waits for node.
void NotifyWalk(SharedState& shared, const Node* node);
// The walk's thread waits until something happens to node.
void WaitForWalk(SharedState& shared, const Node* node, std::unique_lock<Mutex>& guard);
void WakeWorkers(SharedState& shared);
// Wakes idle workers once the window has room again, not at every slot freed.
void WakeWorkersIfRoomy(SharedState& shared);
// Ends node with error, and tells the walk.
void EndNode(SharedState& shared, Node* node, DWORD error, Deferred& deferred);

// The walk's own work while it waits for node.
Work PickOwnWork(SharedState& shared, Node* node);
// Does work on the calling thread: the walk's (onWalk) or a worker's.
void RunWork(SharedState& shared, const Work& work, bool onWalk, std::unique_lock<Mutex>& guard,
             char* scratch);

// Starts workers until shared.threads run, the walk's own included; the
// lock is let go of while threads are made.
void StartWorkers(SharedState& shared, std::unique_lock<Mutex>& guard);
// At exit. Without the lock.
void StopWorkers(SharedState& shared);

// Whether a directory that could not be opened or read for error is left to
// the walk's own thread: it lacked a descriptor or memory, which the walk
// may find once the workers hold less. Any other refusal is final.
bool LeftToTheWalk(int error);

}  // namespace read_ahead
